#!/usr/bin/env bash
# Upgrade of two simulated devices with a 1 MiB image, from the window's
# dialog and from orvistarctl, side by side. Run as root from a built tree:
#   bench/window_upgrade/run.sh [ROUNDS]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export ORV_BIN=${ORV_BIN:-$root/build/bin}
rounds=${1:-3}
[[ $(id -u) -eq 0 ]] || { echo "bench: must run as root (network namespaces)" >&2; exit 1; }
lab=$root/tools/lab/lab
name=tcw$$
work=$(mktemp -d /tmp/tc-benchw-XXXXXX)
cleanup() { "$lab" down --name "$name" >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT
cat >"$work/fleet.json" <<'JSON'
{"devices": [
 {"hwid": "0x0115", "mac": "00-0A-1B-2C-5D-01", "ip": "10.77.0.51", "netmask": "255.255.255.0", "gateway": "10.77.0.1",
  "faults": {"delay_ms": [0, 20], "restart_offline_ms": 200}},
 {"hwid": "0x0115", "mac": "00-0A-1B-2C-5D-02", "ip": "10.77.0.52", "netmask": "255.255.255.0", "gateway": "10.77.0.1",
  "faults": {"delay_ms": [0, 20], "restart_offline_ms": 200}}]}
JSON
# A 1 MiB image: header "DAC!", value 15 at 12, L at 16, signed sum at 20.
python3 - "$work/fw.q6p" <<'PY'
import struct, sys
L = 1024 * 1024 - 32
payload = bytes((i * 7) & 0x7F for i in range(L))
s = sum(payload) & 0xFFFF
hdr = b"DAC!" + bytes([0x21, 4]) + bytes(6) + struct.pack("<Ii", 15, L) + struct.pack("<H", s) + bytes(10)
open(sys.argv[1], "wb").write(hdr + payload)
PY
"$lab" up --name "$name" --fleet "$work/fleet.json" --logdir "$work/logs" >/dev/null
"$lab" exec --name "$name" -- env ORVISTAR_SETTINGS="$work/system.reg" XDG_STATE_HOME="$work" \
  QT_QPA_PLATFORM=offscreen ORV_BIN="$ORV_BIN" \
  "$ORV_BIN/bench_window_upgrade" 10.77.0.1 "$work/fw.q6p" "$rounds" 00-0A-1B-2C-5D-01 00-0A-1B-2C-5D-02
