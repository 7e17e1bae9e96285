#!/usr/bin/env bash
# Search benchmark: one default search (T = 3) in labs of 500 and 1000
# simulated devices; devices found out of devices present and elapsed time,
# with the search socket's enlarged receive buffer and with the kernel's
# default one. Run as root from a built tree:
#   bench/search/run.sh [--sizes "500 1000"] [--runs 3]
# Binaries from $ORV_BIN (default build/bin). Prints a Markdown table.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export ORV_BIN=${ORV_BIN:-$root/build/bin}
sizes="500 1000"
runs=3
while [[ $# -gt 0 ]]; do
  case $1 in
    --sizes) sizes=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    *) echo "usage: $0 [--sizes \"500 1000\"] [--runs N]" >&2; exit 2 ;;
  esac
done
[[ $(id -u) -eq 0 ]] || { echo "bench: must run as root (network namespaces)" >&2; exit 1; }
[[ -x $ORV_BIN/orvistarctl && -x $ORV_BIN/devsim ]] || { echo "bench: build first (no binaries in $ORV_BIN)" >&2; exit 1; }

lab=$root/tools/lab/lab
name=tcb$$
work=$(mktemp -d /tmp/tc-bench-XXXXXX)
export ORVISTAR_SETTINGS=$work/system.reg   # never the real settings
cleanup() { "$lab" down --name "$name" >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT

ms() { echo $(( $(date +%s%N) / 1000000 )); }

echo "| devices | answer delays | receive buffer | T (requests) | found (per run) | elapsed ms (per run) | lab up s |"
echo "|---|---|---|---|---|---|---|"
for n in $sizes; do
  for delay in "" 0-0; do
    if [[ -n $delay ]]; then
      "$root/tools/lab/genfleet" "$n" --delay "$delay" >"$work/fleet.json"
      dlabel="all at once (0 ms)"
    else
      "$root/tools/lab/genfleet" "$n" >"$work/fleet.json"
      dlabel="0-200 ms (default)"
    fi
    t0=$(ms)
    "$lab" up --name "$name" --fleet "$work/fleet.json" --logdir "$work/logs" >/dev/null
    up_s=$(( ($(ms) - t0) / 1000 ))
    # T = 3 is the default search (two requests); T = 1 sends a single request,
    # so answers lost to a full receive buffer are not made up by a second round.
    for cycles in 3 1; do
      for buf in enlarged default; do
        opt=(--cycles "$cycles"); [[ $buf == default ]] && opt+=(--default-rcvbuf)
        found=() times=()
        for ((r = 0; r < runs; r++)); do
          t0=$(ms)
          c=$("$lab" exec --name "$name" -- "$ORV_BIN/orvistarctl" search --nic 10.77.0.1 --json "${opt[@]}" |
              grep -c '"mac"' || true)
          times+=($(( $(ms) - t0 )))
          found+=("$c")
        done
        bl=$([[ $buf == default ]] && echo "kernel default ($("$lab" exec --name "$name" -- cat /proc/sys/net/core/rmem_default) B)" || echo "enlarged (CLI default)")
        echo "| $n | $dlabel | $bl | $cycles ($(( cycles / 2 + 1 ))) | ${found[*]} of $n | ${times[*]} | $up_s |"
      done
    done
    "$lab" down --name "$name" >/dev/null
    rm -rf "$work/logs"
  done
done
