#!/usr/bin/env bash
# One command: installs what is missing, builds the runner and starts the app against the demo
# bank, then tours its pages and plug-ins. The terminal gets the run's milestones and each tour
# step with its verdict; out/startup.log gets the whole log, out/ the PNGs of the window
# (build/release/tools/fxclient without --tour stops after the start-up).
#   bash scripts/run.sh [fxclient options]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/install-deps.sh
source scripts/build-env.sh
cmake -S . -B build/release -G Ninja "${release_args[@]}" >/dev/null
cmake --build build/release -j "$(nproc)" --target fxclient
exec build/release/tools/fxclient --tour "$@"
