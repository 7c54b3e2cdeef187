#!/usr/bin/env bash
# Installs what is missing, builds Varik and starts it with the built-in
# demo meter. Extra arguments go to the program (for example --port /dev/ttyUSB0).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build" -DVARIK_TESTS=OFF
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: running the window on a virtual screen is of no use," >&2
    echo "so here is the demo meter read from the command line instead." >&2
    exec "$root/scripts/cli-demo.sh"
fi
exec "$root/build/src/app/varik" --demo "$@"
