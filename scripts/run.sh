#!/usr/bin/env bash
# One command: installs what is missing, builds the runner and starts the app against the demo
# bank, writing out/startup.log and the PNGs of the window into out/.
#   bash scripts/run.sh [fxclient options]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/install-deps.sh
export CCACHE_BASEDIR="$top" CCACHE_NOHASHDIR=true
export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target fxclient
exec build/release/tools/fxclient --out out "$@"
