#!/usr/bin/env bash
# Lays out every C++ file of the tree by .clang-format: format.sh to rewrite
# them, format.sh --check to list the files that differ and fail.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.cc' '*.c')
if [ "${1:-}" = --check ]; then
  clang-format --dry-run -Werror "${files[@]}"
else
  clang-format -i "${files[@]}"
fi
