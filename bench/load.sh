#!/usr/bin/env bash
# The upload site under load (see bench/LoadBench.cpp):
#   bench/load.sh [--tsan | --cluster] [UPLOADS=50] [MEGABYTES=20] [SECONDS=60] [READS_PER_SECOND=500]
# --tsan runs the same load against a ThreadSanitizer build (build-tsan/),
# whose reports fail the run. --cluster runs it against one server, then
# through the balancer of ./run.sh cluster's two servers with Redis
# (scripts/cluster.sh), in the same run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=build-bench
options=(-DCMAKE_BUILD_TYPE=Release)
cluster=
if [ "${1:-}" = "--cluster" ]; then
  shift
  cluster=1
elif [ "${1:-}" = "--tsan" ]; then
  shift
  build=build-tsan
  options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DFORMIX4_TSAN=ON)
  export LOAD_UNDER_TSAN=1  # its allocator keeps memory: no memory check
fi
scripts/build.sh "$build" "${options[@]}" -DBUILD_BIDBENCH=OFF >/dev/null
work=$(mktemp -d /tmp/formix4-load-XXXXXX)
trap 'rm -rf "$work"' EXIT
# Started as root, the server's pages run as formix4.
chmod a+rx "$work"
scripts/site-root.sh "$work/www"
mkdir -p "$work/tmp"
[ "$(id -u)" -ne 0 ] || chown formix4: "$work/tmp"
export PLATFORM_REGISTRY_DIR=$work/registry
scripts/register.sh "$build"
export TSAN_OPTIONS="halt_on_error=0 exitcode=66 log_path=$work/tsan"
status=0
"$build/bench/load_bench" "$build/host/formix4-server" "$work/www" "$work/tmp" "$@" || status=$?
if [ -n "$cluster" ]; then
  # The servers' event log, to count Redis outages (a command over 50 ms is one).
  "$build/host/reg" add 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application' /v File /t REG_SZ \
    /d "$work/events.log" >/dev/null
  : > "$work/events.log"
  chmod 666 "$work/events.log"
  "$build/bench/load_bench" --cluster scripts/cluster.sh "$build" "$work/www" "$work/tmp" "$@" || status=$?
  echo "Redis outages logged: $(grep -c 'cannot be reached' "$work/events.log" || true)"
  grep 'cannot be reached' "$work/events.log" | cut -f6 | head -5 || true
fi
if ls "$work"/tsan* >/dev/null 2>&1; then
  cat "$work"/tsan* | head -100
  echo "ThreadSanitizer reported races"
  exit 1
fi
exit $status
