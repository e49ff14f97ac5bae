#!/usr/bin/env bash
# Area-weighted global statistics on the 0.5 degree land grid, 100 calls of 12 bands:
# per-call routine against the prepared grid. Usage: bench/areagrid.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
"$build/bench/areagrid_bench" data/grid_0.5deg_centre.bin 61534 360 720 100 12
