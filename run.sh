#!/usr/bin/env bash
# Installs what is missing, builds, and starts the configurator attached to the controller
# simulator. The simulator takes the virtual port COM1, the first in the port list, so the
# configurator opens it at start-up.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target quorlan korvel-sim
BIN=build/default
ready=$(mktemp)
"$BIN/korvel-sim" --port 1 --baud-pace >"$ready" 2>"$BIN/korvel-sim.log" </dev/null &
SIM_PID=$!
cleanup() { kill "$SIM_PID" 2>/dev/null || true; wait "$SIM_PID" 2>/dev/null || true; rm -f "$ready"; }
trap cleanup EXIT
for _ in $(seq 50); do [ -s "$ready" ] && break; sleep 0.1; done
[ -s "$ready" ] && echo "Controller simulator on $(cut -d' ' -f1 "$ready") (log: $BIN/korvel-sim.log)"
"$BIN/quorlan"
