#!/usr/bin/env bash
# `rastertools calc` from NetCDF to NetCDF against the suite's own chain on the same files
# (`rastertools import` of each input, the positional band tool, `rastertools export`): `sum` of
# two monthly 0.5-degree files of 30 years (360 x 720 cells, chunks of one step, deflate 5, as
# CDO writes them) over 10 of their years, and `scale` of one whole file. Both ends write the
# same values (checked on the raw outputs before timing). Warm page cache; wall times as the
# best and the median of REPS runs (default 3), with the best CPU time and the peak memory.
#
#   bench/calc.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
gen="$build/bench/ncread_bench"
rt="$build/bin/rastertools"
for b in "$gen" "$rt" "$build/bin/sum" "$build/bin/scale"; do
  [[ -x "$b" ]] || { echo "missing $b (build ncread_bench, sum, scale, rastertools-*)" >&2; exit 1; }
done
command -v cdo >/dev/null || { echo "cdo is not installed" >&2; exit 1; }
reps=${REPS:-3}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$gen" write "$tmp/gen.nc" data/grid_0.5deg_centre.bin
z="-s -f nc4 -z zip_5"
cdo $z copy "$tmp/gen.nc" "$tmp/a.nc"
cdo $z chname,tas,pr -mulc,0.01 "$tmp/gen.nc" "$tmp/b.nc"
rm "$tmp/gen.nc"
sync "$tmp"/*.nc
cat "$tmp"/*.nc >/dev/null
echo "inputs: 2 files of $(($(stat -c %s "$tmp/a.nc") / 1000000)) MB, 360 monthly steps of 360 x 720"

# job NAME FORMAT EXT: the two calc runs; chain: the same through raw files.
job() {
  "$rt" calc sum "$tmp/a.nc" "$tmp/b.nc" --var2 pr -o "$tmp/$1_sum.$3" --format "$2" \
    --years 1981-1990
  "$rt" calc scale "$tmp/a.nc" -o "$tmp/$1_scale.$3" --format "$2" --factor 0.5
}
chain() {
  "$rt" import "$tmp/a.nc" -o "$tmp/c_a.bin"
  "$rt" import "$tmp/b.nc" -o "$tmp/c_b.bin" --grid "$tmp/c_a.grid.bin"
  local npixel
  npixel=$(($(stat -c %s "$tmp/c_a.grid.bin") / 4))
  "$rt" sum "$tmp/c_a.bin" "$tmp/c_b.bin" "$tmp/c_sum.bin" "$npixel" 120 239 120 239
  "$rt" scale "$tmp/c_a.bin" "$tmp/c_scale.bin" 0.5 "$npixel"
  "$rt" export "$tmp/c_sum.bin" -o "$tmp/c_sum.nc" --grid "$tmp/c_a.grid.bin" --var tas \
    --bands-per-year 12 --first-year 1981
  "$rt" export "$tmp/c_scale.bin" -o "$tmp/c_scale.nc" --grid "$tmp/c_a.grid.bin" --var tas \
    --bands-per-year 12 --first-year 1971
}

# The same values both ways.
job raw raw bin >/dev/null
chain >/dev/null
cmp "$tmp/raw_sum.bin" "$tmp/c_sum.bin"
cmp "$tmp/raw_scale.bin" "$tmp/c_scale.bin"
echo "raw outputs of calc and of the chain are the same bytes"
export -f job chain
export rt tmp

source bench/lib.sh
: >"$tmp/results"
for ((i = 0; i < reps; ++i)); do
  rm -f "$tmp"/job_* "$tmp"/c_*
  bench_run calc bash -c 'job job netcdf nc'
  bench_run chain bash -c chain
done

bench_report_pair calc chain
