#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"

CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVKL_FUZZ=ON -DVKL_BUILD_TESTS=OFF >/dev/null
targets=$(cmake --build build-fuzz --target help | sed -n 's/^\(fuzz_[a-z_]*\):.*/\1/p' | sort -u)
if [ -z "$targets" ]; then
  echo "No fuzz targets."
  exit 0
fi
# shellcheck disable=SC2086
cmake --build build-fuzz -j "$(nproc)" --target $targets

for target in $targets; do
  corpus="build-fuzz/corpus/$target"
  mkdir -p "$corpus"
  seeds="tests/fuzz/seeds/${target#fuzz_}"
  echo "Fuzzing $target for ${seconds}s"
  if [ -d "$seeds" ]; then
    "build-fuzz/tools/fuzz/$target" -max_total_time="$seconds" -print_final_stats=0 "$corpus" "$seeds" 2>&1 | tail -n 3
  else
    "build-fuzz/tools/fuzz/$target" -max_total_time="$seconds" -print_final_stats=0 "$corpus" 2>&1 | tail -n 3
  fi
done
