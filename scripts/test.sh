#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer + UndefinedBehaviorSanitizer, runs each
# fuzz target for a bounded time, then runs every test (the test summary is the last thing printed).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-dependencies.sh

jobs=$(nproc)
cmake -S . -B build-tests -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVKL_SANITIZE=ON >/dev/null
cmake --build build-tests -j "$jobs"

./scripts/fuzz.sh "${VKL_FUZZ_SECONDS:-20}"

export QT_QPA_PLATFORM=offscreen
ctest --test-dir build-tests --output-on-failure -j "$jobs" --timeout 300
