#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, ASan and UBSan, and runs each for a
# bounded time (seconds per target, default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-60}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DORV_FUZZ=ON -DORV_BUILD_GUI=OFF -DBUILD_TESTING=OFF \
  -DORV_SANITIZE=address,undefined
cmake --build build-fuzz --target fuzz_all -j"$(nproc)"
FUZZ_SECONDS=$SECONDS_PER_TARGET cmake --build build-fuzz --target fuzz
