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
# The component registered with the site's settings, the site in a document
# root of its own: what ./run.sh serves.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod a+rx "$work"
export PLATFORM_REGISTRY_DIR=$work/registry
scripts/register.sh build-bench
scripts/site-root.sh "$work/www"
echo "== parser ($parse_mb MB bodies)"
build-bench/bench/parse_bench "$parse_mb"
echo "== uploads over loopback"
if [ $# -eq 0 ]; then set -- 100 1024; fi
build-bench/bench/upload_bench "$work/www" "$@"
