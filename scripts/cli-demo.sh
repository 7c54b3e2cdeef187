#!/usr/bin/env bash
# Reads the simulated meter from the command line: connection check, then the
# per-second list. Used by run.sh where no display is available.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/src/app
"$root/scripts/install-deps.sh"
[ -x "$bin/varik-cli" ] && [ -x "$bin/varik-meter" ] || "$root/scripts/build.sh" "$root/build" -DVARIK_TESTS=OFF

coproc METER { "$bin/varik-meter"; }
trap 'kill $METER_PID 2>/dev/null || true' EXIT
read -r port <&"${METER[0]}"
echo "Demo meter on $port"
"$bin/varik-cli" --port "$port" --baud 115200 --device 1 check
"$bin/varik-cli" --port "$port" --baud 115200 --device 1 read second --encoding utf-8
