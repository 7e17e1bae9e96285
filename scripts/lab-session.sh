# Sourced by the demo scripts: installs the packages (unless SKIP_DEPS=1),
# builds, and brings up the lab $LAB (default "orvlab") with the default fleet;
# the lab goes down again when the calling script exits.
cd "$(dirname "${BASH_SOURCE[0]}")/.."
if [ "${SKIP_DEPS:-0}" != 1 ]; then ./scripts/install-deps.sh; fi
./scripts/build.sh
LAB=${LAB:-orvlab}
export ORV_BIN=$PWD/build/bin
cleanup() { ./tools/lab/lab down --name "$LAB" >/dev/null 2>&1 || true; }
trap cleanup EXIT
./tools/lab/lab down --name "$LAB" >/dev/null 2>&1 || true
./tools/lab/lab up --name "$LAB" --fleet tools/lab/fleets/default.json
