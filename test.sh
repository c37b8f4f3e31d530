#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest:
#   build/           the product build: the desktop program, the cluster, the
#                    browser tests, the deployment units and the layout;
#   build-sanitize/  the component's and the server's tests (label
#                    "component") with AddressSanitizer and
#                    UndefinedBehaviorSanitizer;
#   build-tsan/      the same tests with ThreadSanitizer, but for the fuzz
#                    replays and the parser comparison, which run on one
#                    thread.
# A sanitizer's report fails the test that caused it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh

scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_BIDBENCH=ON
ctest --test-dir build --output-on-failure -j2 -LE component

BUILD_TARGET=component_tests \
  scripts/build.sh build-sanitize -DCMAKE_BUILD_TYPE=Debug -DFORMIX4_SANITIZE=ON -DBUILD_BIDBENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize --output-on-failure -j2 -L component

BUILD_TARGET=component_tests \
  scripts/build.sh build-tsan -DCMAKE_BUILD_TYPE=Debug -DFORMIX4_TSAN=ON -DBUILD_BIDBENCH=OFF
TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 suppressions=$PWD/tests/tsan-suppressions.txt" \
  ctest --test-dir build-tsan --output-on-failure -j2 -L component -E '^fuzz\.|ParserDifferential|code_page_tables'
