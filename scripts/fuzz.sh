#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"

CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVKL_FUZZ=ON -DVKL_BUILD_TESTS=OFF >/dev/null
# AUTOMOC adds fuzz_*_autogen helper targets; they are not fuzzers.
targets=$(cmake --build build-fuzz --target help | sed -n 's/^\(fuzz_[a-z_]*\):.*/\1/p' | grep -v '_autogen' | sort -u)
if [ -z "$targets" ]; then
  echo "No fuzz targets."
  exit 0
fi
# shellcheck disable=SC2086
cmake --build build-fuzz -j "$(nproc)" --target $targets

# The leaks the tests accept inside libraries we do not own are accepted here too (GLib keeps type data for the
# process's life); a target that needs more memory than this, or asks for one block over the malloc limit, fails,
# so an input that decompresses into gigabytes is caught.
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
rss_limit_mb="${VKL_FUZZ_RSS_LIMIT_MB:-2048}"
malloc_limit_mb="${VKL_FUZZ_MALLOC_LIMIT_MB:-$rss_limit_mb}"

failed=0
for target in $targets; do
  corpus="build-fuzz/corpus/$target"
  mkdir -p "$corpus"
  inputs=("$corpus")
  seeds="tests/fuzz/seeds/${target#fuzz_}"
  [ -d "$seeds" ] && inputs+=("$seeds")
  log="build-fuzz/$target.log"
  if "build-fuzz/tools/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
      -rss_limit_mb="$rss_limit_mb" -malloc_limit_mb="$malloc_limit_mb" -artifact_prefix="build-fuzz/$target-" "${inputs[@]}" >"$log" 2>&1; then
    echo "fuzz $target: $(grep -m1 -o 'Done [0-9]* runs in [0-9]* second(s)' "$log"), no failure"
  else
    echo "fuzz $target FAILED; the crashing input is kept as build-fuzz/$target-*:"
    tail -n 40 "$log"
    failed=1
  fi
done
exit "$failed"
