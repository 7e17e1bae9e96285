#!/usr/bin/env bash
# The main job against the simulated device lab: installs the packages,
# builds, brings up the lab with the default fleet, searches it from the
# lab's workstation and prints the devices found. Run as root.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${SKIP_DEPS:-0}" != 1 ]; then ./scripts/install-deps.sh; fi
./scripts/build.sh
LAB=${LAB:-orvlab}
export ORV_BIN=$PWD/build/bin
cleanup() { ./tools/lab/lab down --name "$LAB" >/dev/null 2>&1 || true; }
trap cleanup EXIT
./tools/lab/lab down --name "$LAB" >/dev/null 2>&1 || true
./tools/lab/lab up --name "$LAB" --fleet tools/lab/fleets/default.json
# The search keeps its settings in a scratch file, not in the operator's own.
export ORVISTAR_SETTINGS=${ORVISTAR_SETTINGS:-/tmp/orvistar-demo-$$.reg}
./tools/lab/lab exec --name "$LAB" -- "$ORV_BIN/orvistarctl" search --nic 10.77.0.1 "$@"
