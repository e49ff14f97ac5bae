#!/usr/bin/env bash
# Regenerates docs/map-angle.png, the map shown in README.md: the demo's corvane angle output
# over Europe.
#   scripts/make-docs-map.sh [BUILD_DIR]     (default: build; runs the demo first if needed)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
angle="$build/demo/out/angle.bin"
[[ -f "$angle" ]] || scripts/demo.sh "$build"
mkdir -p docs
# Europe only, 3 pixels per cell: small enough to keep in the repository.
"$build/bin/rastertools-map" "$angle" --grid data/grid_0.5deg_centre.bin -o docs/map-angle.png \
  --extent -15 45 30 72 --scale 3 --title "Cosine of the angle of change, 1971-2000 to 2071-2100"
echo "docs/map-angle.png: $(stat -c %s docs/map-angle.png) bytes"
