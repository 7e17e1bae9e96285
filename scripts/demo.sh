#!/usr/bin/env bash
# The main job against the simulated device lab: installs the packages,
# builds, brings up the lab with the default fleet, searches it from the
# lab's workstation and prints the devices found. Run as root.
set -euo pipefail
source "$(dirname "$0")/lab-session.sh"
# The search keeps its settings in a scratch file, not in the operator's own.
export ORVISTAR_SETTINGS=${ORVISTAR_SETTINGS:-/tmp/orvistar-demo-$$.reg}
./tools/lab/lab exec --name "$LAB" -- "$ORV_BIN/orvistarctl" search --nic 10.77.0.1 "$@"
