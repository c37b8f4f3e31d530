#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest; then
# runs the component's tests again in a build with AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh

scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_BIDBENCH=ON
ctest --test-dir build --output-on-failure -j2

scripts/build.sh build-sanitize -DCMAKE_BUILD_TYPE=Debug -DFORMIX4_SANITIZE=ON -DBUILD_BIDBENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize --output-on-failure -j2 -L component
