#!/usr/bin/env bash
# Installs what is missing, builds the release programs and runs the main job on the bundled example:
# the simulation of examples/simulation.tsp goes into a simulated Torvik4 and is read back from it.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/bootstrap.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target torvik torvik4-sim restart_hex
bin=build/release/bin
work=$(mktemp -d)
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; rm -rf "$work"' EXIT

# The simulated device prints the path of its pseudo-terminal first; its flash, EEPROM and clock live in
# the state file.
"$bin/torvik4-sim" --state "$work/device.state" >"$work/sim.out" 2>&1 &
sim=$!
for _ in $(seq 100); do
  port=$(head -n 1 "$work/sim.out" 2>/dev/null || true)
  [ -n "$port" ] && break
  sleep 0.05
done
[ -n "$port" ] || { echo "torvik4-sim did not start" >&2; exit 1; }

export TORVIK_SETTINGS="$work/settings.ini"
"$bin/torvik" upload --port "$port" examples/simulation.tsp
"$bin/torvik" info --port "$port"
"$bin/torvik" userblock read --port "$port"
