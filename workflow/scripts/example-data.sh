#!/usr/bin/env bash
# A tiny ensemble for the example workflow: 2 models x 2 scenarios, three monthly variables
# (temperature, precipitation, productivity) on the 2 degree land grid. Reference files
# (1971-1980) are raw files with sidecars; future files (2071-2080) are NetCDF, written from raw
# files with `rastertools export` as a model would write them, so the workflow imports them.
#
#   workflow/scripts/example-data.sh [BUILD_DIR [DEST]]
#     BUILD_DIR  the build with bin/rastertools and bench/rastergen (default: build)
#     DEST       where the files go (default: BUILD_DIR/workflow-example/input)
#   RASTERTOOLS=path overrides BUILD_DIR/bin/rastertools; EXAMPLE_FORMAT=raw writes the future
#   files as raw files with sidecars too (no NetCDF).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
dest=${2:-$build/workflow-example/input}
gen=$build/bench/rastergen
rastertools=${RASTERTOOLS:-$build/bin/rastertools}
format=${EXAMPLE_FORMAT:-netcdf}
grid=$root/data/grid_2deg_northedge.bin
npixel=$(($(stat -c %s "$grid") / 4))
years=10
# rastergen is built on request only (it is a benchmark program): build it when it is missing.
if [[ ! -x "$gen" && -f "$build/CMakeCache.txt" ]]; then
  echo "example-data: building rastergen in $build"
  cmake --build "$build" --target rastergen >/dev/null
fi
[[ -x "$gen" ]] || { echo "example-data: missing $gen: build first (make)" >&2; exit 1; }

# sidecar RAW FIRST_YEAR VAR UNITS LONG_NAME: the ENVI header beside a raw file.
sidecar() {
  local raw=$1 first=$2 var=$3 units=$4 long=$5
  local hdr=${raw%.*}.hdr
  local gridrel
  gridrel=$(realpath --relative-to="$(dirname "$raw")" "$grid")
  cat >"$hdr" <<EOF
ENVI
description = {rastertools raster file}
samples = $npixel
lines = 1
bands = $((12 * years))
header offset = 0
file type = ENVI Standard
data type = 4
interleave = bsq
byte order = 0
rastertools grid file = $gridrel
rastertools resolution = 2
rastertools grid convention = northedge
rastertools bands per year = 12
rastertools first year = $first
rastertools variable = $var
rastertools units = $units
rastertools long name = $long
EOF
}

# variable NAME KIND OFFSET UNITS LONG_NAME
variables=(
  "tas seasonal 273.15 K Near-Surface Air Temperature"
  "pr precip 0 mm/month Precipitation"
  "npp npp 0 gC/m2/month Net Primary Productivity"
)
models=(modelA modelB)
scenarios=("ssp126 0.01" "ssp585 0.05")

mkdir -p "$dest"
seed=1
for model in "${models[@]}"; do
  mkdir -p "$dest/$model/historical"
  for v in "${variables[@]}"; do
    read -r name kind offset units long <<<"$v"
    raw=$dest/$model/historical/$name.bin
    # Years count from 1901 in the generator's trend.
    "$gen" "$raw" "$npixel" 12 $years "$kind" --grid "$grid" --seed $seed --firstyear 70 \
      --offset "$offset"
    sidecar "$raw" 1971 "$name" "$units" "$long"
    seed=$((seed + 1))
    for s in "${scenarios[@]}"; do
      read -r scenario trend <<<"$s"
      mkdir -p "$dest/$model/$scenario"
      raw=$dest/$model/$scenario/$name.bin
      "$gen" "$raw" "$npixel" 12 $years "$kind" --grid "$grid" --seed $seed --firstyear 170 \
        --offset "$offset" --trend "$trend"
      sidecar "$raw" 2071 "$name" "$units" "$long"
      seed=$((seed + 1))
      if [[ $format == netcdf ]]; then
        "$rastertools" export "$raw" -o "${raw%.bin}.nc" --format netcdf >/dev/null
        rm "$raw" "${raw%.bin}.hdr"
      fi
    done
  done
done
echo "example-data: ${#models[@]} models x ${#scenarios[@]} scenarios in $dest"
