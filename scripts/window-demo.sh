#!/usr/bin/env bash
# The desktop program against the simulated device lab: installs the packages,
# builds, brings up the lab with the default fleet and opens the window inside
# the lab's workstation namespace. The window reaches your X display through
# its socket file, which every namespace sees. Run as root from a desktop
# session (sudo keeps DISPLAY; XAUTHORITY is passed on when set), or with
# HEADLESS=1 on a virtual X server (xvfb-run) to try it without a display.
set -euo pipefail
source "$(dirname "$0")/lab-session.sh"
# Settings in a scratch file, not in the operator's own.
export ORVISTAR_SETTINGS=${ORVISTAR_SETTINGS:-/tmp/orvistar-window-demo-$$.reg}
env_args=(ORVISTAR_SETTINGS="$ORVISTAR_SETTINGS")
[ -n "${XAUTHORITY:-}" ] && env_args+=(XAUTHORITY="$XAUTHORITY")
if [ "${HEADLESS:-0}" = 1 ] || [ -z "${DISPLAY:-}" ]; then
  ./tools/lab/lab exec --name "$LAB" -- env "${env_args[@]}" \
    xvfb-run -a -s '-screen 0 1280x800x24' "$ORV_BIN/orvistar"
else
  ./tools/lab/lab exec --name "$LAB" -- env "${env_args[@]}" DISPLAY="$DISPLAY" "$ORV_BIN/orvistar"
fi
