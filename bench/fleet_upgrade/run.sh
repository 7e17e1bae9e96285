#!/usr/bin/env bash
# Firmware upgrade of 100 simulated devices (one model, a 64 KiB image, every
# reply held back 5 ms) with --jobs 1 and --jobs 16, side by side in one run;
# then the same with 10 of the devices sharing one factory address, checking
# from the devices' logs that those 10 never overlapped. Run as root from a
# built tree:
#   bench/fleet_upgrade/run.sh [DEVICES]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
bin=${ORV_BIN:-$root/build/bin}
n=${1:-100}
[[ $(id -u) -eq 0 ]] || { echo "bench: must run as root (network namespaces)" >&2; exit 1; }
lab=$root/tools/lab/lab
name=tcf$$
work=$(mktemp -d /tmp/tc-benchf-XXXXXX)
cleanup() { "$lab" down --name "$name" >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT

python3 - "$work" "$n" <<'PY'
import json, struct, sys
work, n = sys.argv[1], int(sys.argv[2])
L = 64 * 1024 - 32
payload = bytes((i * 7) & 0x7F for i in range(L))
hdr = b"DAC!" + bytes([0x21, 4]) + bytes(6) + struct.pack("<Ii", 15, L) + struct.pack("<H", sum(payload) & 0xFFFF) + bytes(10)
open(f"{work}/fw.q6p", "wb").write(hdr + payload)
for variant in ("distinct", "shared"):
    devs = []
    for i in range(1, n + 1):
        d = {"hwid": "0x0115", "mac": "00-0A-1B-01-%02X-%02X" % (i >> 8, i & 255),
             "ip": "10.78.%d.%d" % (i // 250, i % 250 + 1), "netmask": "255.255.0.0", "gateway": "10.78.0.1",
             "faults": {"delay_ms": [0, 20], "reply_delay_ms": 5, "restart_offline_ms": 300}}
        if variant == "shared" and i % (n // 10) == 0:
            d.update(ip="192.168.127.254", netmask="255.255.255.0", gateway="0.0.0.0")
        devs.append(d)
    json.dump({"devices": devs}, open(f"{work}/{variant}.json", "w"), indent=1)
PY

run() {  # variant jobs
  local t0 t1
  t0=$(date +%s.%N)
  "$lab" exec --name "$name" -- env ORVISTAR_SETTINGS="$work/system.reg" XDG_STATE_HOME="$work/state" \
    "$bin/orvistarctl" upgrade "$work/fw.q6p" --all --jobs "$2" --nic 10.77.0.1 --cycles 3 --json \
    >"$work/$1-$2.json" 2>"$work/$1-$2.err" || true
  t1=$(date +%s.%N)
  python3 - "$work/$1-$2.json" "$n" <<'PY' || { cat "$work/$1-$2.err" >&2; exit 1; }
import json, sys
j = json.load(open(sys.argv[1]))
ok = j["succeeded"]
if ok != int(sys.argv[2]): sys.exit(f"only {ok} of {sys.argv[2]} devices succeeded")
PY
  python3 -c "print(round($t1 - $t0, 2))"
}

# Whether the devices at the shared address ever served two sessions at once:
# each device's turn spans its first to its last log line of this run.
no_overlap() {
  python3 - "$work/logs" <<'PY'
import glob, json, sys
spans = []
for path in glob.glob(sys.argv[1] + "/*.log"):
    lines = [l for l in open(path) if " tcp " in l or "restart" in l]
    if lines: spans.append((lines[0].split()[0], lines[-1].split()[0], path))
shared = json.load(open(sys.argv[1] + "/../shared.json"))["devices"]
macs = {d["mac"] for d in shared if d["ip"] == "192.168.127.254"}
spans = sorted(s for s in spans if s[2].split("/")[-1][:-4] in macs)
bad = sum(1 for a, b in zip(spans, spans[1:]) if b[0] < a[1])
print("overlaps %d of %d" % (bad, len(spans)))
PY
}

echo "fleet upgrade: $n devices, 64 KiB image, 5 ms per reply"
for variant in distinct shared; do
  "$lab" down --name "$name" >/dev/null 2>&1 || true
  rm -rf "$work/logs"
  "$lab" up --name "$name" --fleet "$work/$variant.json" --logdir "$work/logs" >/dev/null
  t16=$(run "$variant" 16)
  [[ $variant == shared ]] && echo "  shared address, --jobs 16: $(no_overlap)"
  t1=$(run "$variant" 1)
  printf '  %-8s --jobs 1: %7.1f s   --jobs 16: %6.1f s   ratio %.1f\n' "$variant" "$t1" "$t16" \
    "$(python3 -c "print($t1 / $t16)")"
done
