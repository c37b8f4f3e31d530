#!/usr/bin/env bash
# Configures and builds one build tree: build.sh DIR [cmake options...].
# BUILD_TARGET names the one target to build instead of all of them. The
# compiler cache is used when it is installed, keyed on paths relative to the
# checkout, so that a tree made again from nothing, or a second clone,
# reuses what an earlier build compiled.
set -euo pipefail
dir=$1; shift
root=$(cd "$(dirname "$0")/.." && pwd)
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=1
fi
cmake -S "$root" -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
cmake --build "$dir" ${BUILD_TARGET:+--target "$BUILD_TARGET"} -- -j"$(nproc)"
