#!/usr/bin/env bash
# Builds the fuzz targets with libFuzzer (clang) and runs each for a while:
#   fuzz/run.sh [SECONDS_PER_TARGET]   (default 60)
# New inputs that raise coverage are added to fuzz/corpus/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
command -v clang++ >/dev/null || { apt-get update -q && apt-get install -y -q clang libclang-rt-14-dev; }
out=build-fuzz
mkdir -p "$out"
flags=(-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Iplatform/include -Iplatform/src)
platform_sources=(platform/src/*.cpp)
for entry in RegistryFileFuzz:registry_file CodePageFuzz:code_page VariantTextFuzz:variant_text; do
  target=${entry%%:*}
  corpus=fuzz/corpus/${entry##*:}
  echo "== $target ($seconds s)"
  clang++ "${flags[@]}" "fuzz/$target.cpp" "${platform_sources[@]}" -ldl -lpthread -o "$out/$target"
  "$out/$target" -max_total_time="$seconds" -max_len=4096 "$corpus"
done
