#!/usr/bin/env bash
# The upload site end to end beside the upload handlers a user would write
# with other stacks, over loopback, one client, the same bodies, rounds
# alternating between the servers:
#   bench/e2e/run.sh [--quick] [ROUNDS]     default 5 rounds; shape A is 1 GB,
#                                           200 MB with --quick, E2E_A_MB=N to choose
# Servers: the site as ./run.sh serves it (formix4-server with its shipped
# options, the component registered by scripts/register.sh, site/ copied to a
# document root of its own); Node.js http + busboy; Go net/http with
# MultipartReader; python-multipart behind http.server; and the ceiling
# (e2e_ceiling: read, find the parts, write the files), without and with
# SHA-256, and with SHA-256 and each file synced before the answer, as the
# site does. Prints a Markdown table, also written to build-bench/e2e-table.md.
set -euo pipefail
cd "$(dirname "$0")/../.."
a_mb=1024
[ "${1:-}" != "--quick" ] || { a_mb=200; shift; }
a_mb=${E2E_A_MB:-$a_mb}
rounds=${1:-5}

scripts/install-deps.sh
missing=()
command -v go >/dev/null || missing+=(golang-go)
/usr/bin/python3 -c 'import multipart' 2>/dev/null || missing+=(python3-multipart)
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=(); [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
[ -d bench/e2e/node_modules/busboy ] || (cd bench/e2e && npm ci --no-audit --no-fund)

# Only what the benchmark runs: the server, the component, the registration
# tools and the two programs of bench/e2e.
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_BIDBENCH=OFF >/dev/null
nice -n 10 cmake --build build-bench --target formix4-server formix4 regsvr reg e2e_bench e2e_ceiling >/dev/null
mkdir -p build-bench/e2e
(cd build-bench/e2e && GOPATH=$PWD/go GOCACHE=$PWD/go/cache GO111MODULE=off GOPROXY=off GOFLAGS= \
  nice -n 10 go build -o go-server ../../bench/e2e/go-server.go)

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
chmod a+rx "$work"
export PLATFORM_REGISTRY_DIR=$work/registry
scripts/register.sh build-bench >/dev/null
scripts/site-root.sh "$work/www"
mkdir "$work/bodies"

servers=()
# start KIND LABEL ROOT COMMAND...: starts a server that prints its address
# first, and adds it to the client's list.
start() {
  local kind=$1 label=$2 root=$3 log=$work/$RANDOM.log port=
  shift 3
  mkdir -p "$root"
  "$@" >"$log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    port=$(grep -o -m 1 'listening on http://127.0.0.1:[0-9]*' "$log" | grep -o '[0-9]*$' || true)
    [ -z "$port" ] || break
    kill -0 "${pids[-1]}" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$port" ] || { echo "$label did not start:" >&2; cat "$log" >&2; exit 1; }
  servers+=("$kind" "$port" "${pids[-1]}" "$root" "$label")
}
start site "Formix4 site" "$work/www" build-bench/host/formix4-server --port 0 --root "$work/www" --max-upload 2000000000
start peer "Node+busboy" "$work/node" node bench/e2e/node-server.mjs "$work/node"
start peer "Go" "$work/go" build-bench/e2e/go-server "$work/go"
start peer "python-multipart" "$work/python" /usr/bin/python3 bench/e2e/python-server.py "$work/python"
start ceiling "ceiling" "$work/ceiling" build-bench/bench/e2e_ceiling "$work/ceiling"
start ceiling "ceiling + SHA-256" "$work/ceiling-sha" build-bench/bench/e2e_ceiling "$work/ceiling-sha" --sha256
start ceiling "ceiling + SHA-256 + sync" "$work/ceiling-sync" build-bench/bench/e2e_ceiling "$work/ceiling-sync" --sha256 --sync

changes=$(git status --porcelain -- formix4 host platform site | wc -l)
echo "commit $(git rev-parse --short HEAD) ($changes files of the server changed since), $(nproc) cores, $rounds rounds," \
  "A of $a_mb MB; figures are medians of the rounds"
build-bench/bench/e2e_bench "$work/bodies" "$a_mb" "$rounds" build-bench/e2e-table.md "${servers[@]}"
