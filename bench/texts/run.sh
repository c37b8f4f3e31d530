#!/usr/bin/env bash
# What long texts and many fields cost the upload site, as ./run.sh serves it
# (release build, the component registered by scripts/register.sh):
#   bench/texts/run.sh
# Prints: a page reading Item(i) (and Item(i).Item(1).Content) for every field
# of a form of 10,000 fields; the server's CPU time for a 5 MB text field
# posted to /upload; the server's peak resident memory above its start for a
# 200 MB text field posted to /upload.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_BIDBENCH=OFF >/dev/null
nice -n 10 cmake --build build-bench --target formix4-server formix4 regsvr reg >/dev/null
work=$(mktemp -d)
server=
trap '[ -z "$server" ] || kill "$server" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
chmod a+rx "$work"
export PLATFORM_REGISTRY_DIR=$work/registry
scripts/register.sh build-bench >/dev/null
scripts/site-root.sh "$work/www"
cp bench/texts/item-loop.asp "$work/www/"
build-bench/host/formix4-server --port 0 --root "$work/www" --max-upload 2000000000 >"$work/server.log" 2>&1 &
server=$!
for _ in $(seq 100); do
  port=$(grep -o -m 1 'listening on http://127.0.0.1:[0-9]*' "$work/server.log" | grep -o '[0-9]*$' || true)
  [ -z "$port" ] || break
  sleep 0.1
done
[ -n "${port:-}" ] || { cat "$work/server.log" >&2; exit 1; }

# The bodies: 10,000 text fields of 100 bytes; one text field of N bytes.
/usr/bin/python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
with open(work + "/fields.body", "wb") as out:
    for i in range(10000):
        out.write(b'--Bench\r\nContent-Disposition: form-data; name="f%d"\r\n\r\n' % i + b"v" * 100 + b"\r\n")
    out.write(b"--Bench--\r\n")
for name, size in (("text5", 5 << 20), ("text200", 200 << 20)):
    with open("%s/%s.body" % (work, name), "wb") as out:
        out.write(b'--Bench\r\nContent-Disposition: form-data; name="text"\r\n\r\n')
        chunk = b"The quick brown fox jumps over the lazy dog. " * 23000
        left = size
        while left:
            out.write(chunk[:left])
            left -= min(left, len(chunk))
        out.write(b"\r\n--Bench--\r\n")
PY

post() {  # post PATH BODY: the answer's body to stdout, the status checked
  curl -sS --fail -H 'Content-Type: multipart/form-data; boundary=Bench' -H 'Accept: application/json' \
    -b "fmxvisitor=$visitor" --data-binary "@$2" "http://127.0.0.1:$port$1"
}
cpu_ms() { awk '{print ($14 + $15) * 10}' "/proc/$server/stat"; }
visitor=$(curl -sS -D - -o /dev/null "http://127.0.0.1:$port/upload" | grep -o 'fmxvisitor=[0-9a-f]*' | cut -d= -f2)

read -r count items contents < <(post /item-loop.asp "$work/fields.body")
echo "Item(i) over $count fields: $items ms; Item(i).Item(1).Content: $contents ms"
for name in text5 text200; do
  echo 5 >"/proc/$server/clear_refs"  # the peak from here on
  before_kb=$(awk '/^VmRSS/ {print $2}' "/proc/$server/status")
  before_ms=$(cpu_ms)
  post /upload "$work/$name.body" | grep -q '"ContentCut": ' || { echo "$name: no cut text in the answer" >&2; exit 1; }
  after_ms=$(cpu_ms)
  peak_kb=$(awk '/^VmHWM/ {print $2}' "/proc/$server/status")
  echo "$name: $(stat -c %s "$work/$name.body") bytes, server CPU $((after_ms - before_ms)) ms," \
    "peak resident memory $(( (peak_kb - before_kb) / 1024 )) MB above the $((before_kb / 1024)) MB before"
done
