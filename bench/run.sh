#!/usr/bin/env bash
# Builds and runs the benchmarks (release build in build-bench/):
#   bench/run.sh [PARSE_MEGABYTES] [UPLOAD_MEGABYTES...]
# 1. the body parser over bodies in a mapped file, beside a memmem scan;
# 2. uploads over loopback to formix4-server: one large file of each size,
#    then the real form shapes of bench/compare (1,000 files of 64 KB, a
#    browser form with three 5 MB files), throughput and server memory;
# 3. the memory the server keeps after 20 forms in a row, each with as many
#    fields as the shipped settings take (10,000);
# 4. script pages served per second beside a static file.
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
bodies=$(/usr/bin/python3 bench/compare/make-bodies.py "$work/bodies")
boundary=$(tail -n 1 <<<"$bodies")
build-bench/bench/upload_bench "$work/www" --bodies "$boundary" "$work/bodies/files-64k.body" "$work/bodies/browser.body"
echo "== the server's memory after forms in a row"
build-bench/bench/upload_bench "$work/www" --repeat 20 "$boundary" "$work/bodies/text-10k.body"
echo "== script pages per second"
build-bench/bench/page_bench build-bench/host/formix4-server "$work/www" 8 5
