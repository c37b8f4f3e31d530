#!/usr/bin/env bash
# Formix4's body parser beside busboy (npm) and python3-multipart (Debian) on
# the same bodies, parse only, from memory:
#   bench/compare.sh [SIZE_MB]   (default 64)
# Bodies: one file part of random bytes, of the boundary's own characters,
# and of "\r\n". Prints MB/s and each peer's speed as a share of Formix4's.
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-64}
scripts/install-deps.sh
command -v /usr/bin/python3 >/dev/null && /usr/bin/python3 -c 'import multipart' 2>/dev/null ||
  { sudo_cmd=(); [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends python3 python3-multipart; }
[ -d bench/compare/node_modules/busboy ] || (cd bench/compare && npm ci --no-audit --no-fund)
scripts/build.sh build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_BIDBENCH=OFF >/dev/null
bodies=$(mktemp -d)
trap 'rm -rf "$bodies"' EXIT
boundary=$(/usr/bin/python3 bench/compare/make-bodies.py "$size" "$bodies")

printf '%-22s %8s %18s %24s\n' "body ($size MB)" "Formix4" "busboy" "python3-multipart"
for body in random boundary-characters line-ends; do
  file=$bodies/$body.body
  read -r ours ours_bytes < <(build-bench/bench/parse_bench --body "$file")
  read -r bus bus_bytes < <(node bench/compare/busboy-parse.mjs "$file" "$boundary")
  read -r py py_bytes < <(/usr/bin/python3 bench/compare/python-parse.py "$file" "$boundary")
  [ "$ours_bytes" = "$bus_bytes" ] && [ "$ours_bytes" = "$py_bytes" ] ||
    echo "warning: file bytes differ: Formix4 $ours_bytes, busboy $bus_bytes, python3-multipart $py_bytes" >&2
  ratio() { awk -v a="$1" -v b="$ours" 'BEGIN { printf "%.3f", a / b }'; }
  printf '%-22s %8s %9s (%s) %14s (%s)  MB/s\n' "$body" "$ours" "$bus" "$(ratio "$bus")" "$py" "$(ratio "$py")"
done
