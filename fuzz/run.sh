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
flags=(-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Iplatform/include -Iplatform/src -Iformix4 -Iformix4/include -Ibidbench -Ihost)
# The component's sources, its classes included (targets save through them).
platform_sources=(platform/src/*.cpp formix4/*.cpp formix4/resources/Identifiers.cpp formix4/resources/TypeLibrary.cpp
  bidbench/BookmarkFile.cpp bidbench/ShortcutFile.cpp
  host/script/SharedSessions.cpp host/script/JScriptDateText.cpp host/script/LocalTime.cpp host/core/*.cpp)
# The targets of fuzz/targets.txt, or those FUZZ_TARGETS names in its form.
targets=${FUZZ_TARGETS:-$(grep '^[A-Za-z]' fuzz/targets.txt)}
for entry in $targets; do
  target=${entry%%:*}
  corpus=fuzz/corpus/${entry##*:}
  echo "== $target ($seconds s)"
  clang++ "${flags[@]}" "fuzz/$target.cpp" "${platform_sources[@]}" -ldl -lpthread -lpam -lhiredis -lcrypto -lcivetweb -o "$out/$target"
  mkdir -p "$corpus"
  # Absolute paths: the targets that save through the form change the current folder.
  "$out/$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 -artifact_prefix="$PWD/$out/" "$PWD/$corpus"
done
