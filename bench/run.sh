#!/usr/bin/env bash
# Builds and runs the benchmarks (release build in build-bench/):
#   bench/run.sh [PARSE_MEGABYTES] [UPLOAD_MEGABYTES...]
# 1. the body parser over bodies in a mapped file, beside a memmem scan;
# 2. uploads over loopback to formix4-server: throughput and server memory.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_BIDBENCH=OFF
parse_mb=${1:-256}
shift || true
registry=$(mktemp -d)
trap 'rm -rf "$registry"' EXIT
export PLATFORM_REGISTRY_DIR=$registry
build-bench/host/regsvr build-bench/formix4/libformix4.so >/dev/null
echo "== parser ($parse_mb MB bodies)"
build-bench/bench/parse_bench "$parse_mb"
echo "== uploads over loopback"
if [ $# -eq 0 ]; then set -- 100 1024; fi
build-bench/bench/upload_bench "$@"
