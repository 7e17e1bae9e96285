#!/usr/bin/env bash
# The console of a selected device, in the lab on a virtual X server: time
# from the selection to the device's banner in the embedded terminal and to
# the "Telnet" status, and what switching devices 20 times leaves behind.
# Run as root from a built tree:   bench/console/run.sh [SELECTIONS]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export ORV_BIN=${ORV_BIN:-$root/build/bin}
selections=${1:-10}
[[ $(id -u) -eq 0 ]] || { echo "bench: must run as root (network namespaces)" >&2; exit 1; }
lab=$root/tools/lab/lab
name=tcc$$
work=$(mktemp -d /tmp/tc-benchc-XXXXXX)
cleanup() { "$lab" down --name "$name" >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT
cat >"$work/fleet.json" <<'JSON'
{"devices": [
 {"hwid": "0x0115", "mac": "00-0A-1B-2C-6D-01", "ip": "10.77.0.71", "netmask": "255.255.255.0", "gateway": "10.77.0.1"},
 {"hwid": "0x0201", "mac": "00-0A-1B-2C-6D-02", "ip": "10.77.0.72", "netmask": "255.255.255.0", "gateway": "10.77.0.1"}]}
JSON
"$lab" up --name "$name" --fleet "$work/fleet.json" --logdir "$work/logs" >/dev/null
"$lab" exec --name "$name" -- env ORVISTAR_SETTINGS="$work/system.reg" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s '-screen 0 1280x800x24' \
  "$ORV_BIN/bench_console" "$work/logs" "$selections" 10.77.0.71 00-0A-1B-2C-6D-01 10.77.0.72 00-0A-1B-2C-6D-02
