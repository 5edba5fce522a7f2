#!/usr/bin/env bash
# Installs what is missing, builds the app, generates a sample camera (once) and starts the app against it.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-dependencies.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVKL_BUILD_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc)"

sample="${VKL_SAMPLE_CAMERA:-$PWD/build/sample-camera}"
if [ ! -d "$sample/DCIM" ]; then
  # Generate beside the target and rename, so an interrupted run never leaves a half-made camera behind.
  partial="$sample.partial"
  rm -rf "$partial"
  build/tools/vkl-sample-camera --output "$partial" --shots 120 --days 6 --seed 7
  rm -rf "$sample"
  mv "$partial" "$sample"
fi
export VORNAKEL_SIMULATED_CAMERAS="${VORNAKEL_SIMULATED_CAMERAS:-$sample}"
exec build/src/app/vornakel-transfer "$@"
