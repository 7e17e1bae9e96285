#!/usr/bin/env bash
# Installs the packages, builds, runs every test (the lab tests need root),
# then the sanitizer build and a bounded fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
# Lab tests create network namespaces; run them one at a time.
ctest --test-dir build --output-on-failure -j"$(nproc)" -LE lab
ctest --test-dir build --output-on-failure -L lab
if [ "${SKIP_FUZZ:-0}" != 1 ]; then
  ./scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
fi
