#!/usr/bin/env bash
# Installs what is missing, builds the release programs and runs the main job on the bundled example.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/bootstrap.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target torvik
build/release/bin/torvik dbc show examples/example.dbc
build/release/bin/torvik userblock build examples/simulation.tsp -o build/release/simulation.bin
build/release/bin/torvik userblock show build/release/simulation.bin
