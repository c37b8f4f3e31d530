#!/usr/bin/env bash
# Runs clang-tidy with .clang-tidy over the project's own sources, using the
# compile commands of a build tree: lint.sh [BUILD_DIR] [FILE...]. Fails
# when any check finds something.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}; shift || true
[ -f "$build/compile_commands.json" ] || cmake -S . -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
if [ $# -eq 0 ]; then
  mapfile -t files < <(git ls-files '*.cpp' | grep -v '^host/script/duktape/')
else
  files=("$@")
fi
run-clang-tidy -quiet -p "$build" -j "$(nproc)" "${files[@]/#/$PWD/}"
