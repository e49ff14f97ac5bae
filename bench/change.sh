#!/usr/bin/env bash
# `rastertools change` from six NetCDF files (tas, pr and a third parameter, each a reference
# 1971-2000 and a future 2071-2100 file of monthly 0.5-degree values, 360 x 720 cells, stored as
# CDO writes them: chunks of one step, deflate 5) to eight NetCDF files, against the suite's own
# chain on the same files: six `rastertools import`, `corvane` with its positional arguments,
# eight `rastertools export` (the target: at most half the chain's time). Both ends write the
# same values (checked on the raw outputs before timing). Warm page cache; wall times as the
# best and the median of REPS runs (default 3), with the best CPU time and the peak memory.
#
#   bench/change.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
gen="$build/bench/ncread_bench"
rt="$build/bin/rastertools"
corvane="$build/bin/corvane"
for b in "$gen" "$rt" "$corvane"; do
  [[ -x "$b" ]] || { echo "missing $b (build ncread_bench, corvane, rastertools-*)" >&2; exit 1; }
done
command -v cdo >/dev/null || { echo "cdo is not installed" >&2; exit 1; }
reps=${REPS:-3}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$gen" write "$tmp/gen.nc" data/grid_0.5deg_centre.bin
z="-s -f nc4 -z zip_5"
cdo $z copy "$tmp/gen.nc" "$tmp/tas_ref.nc"
cdo $z shifttime,100years -addc,3 "$tmp/gen.nc" "$tmp/tas_fut.nc"
cdo $z chname,tas,pr -mulc,0.01 "$tmp/gen.nc" "$tmp/pr_ref.nc"
cdo $z chname,tas,pr -shifttime,100years -mulc,0.011 "$tmp/gen.nc" "$tmp/pr_fut.nc"
cdo $z chname,tas,rsds -subc,100 "$tmp/gen.nc" "$tmp/rsds_ref.nc"
cdo $z chname,tas,rsds -shifttime,100years -subc,95 "$tmp/gen.nc" "$tmp/rsds_fut.nc"
rm "$tmp/gen.nc"
names="tas_ref tas_fut pr_ref pr_fut rsds_ref rsds_fut"
sync "$tmp"/*.nc
cat "$tmp"/*.nc >/dev/null
echo "inputs: 6 files of $(($(stat -c %s "$tmp/tas_ref.nc") / 1000000)) MB, 360 monthly steps of 360 x 720"

outs="angle magnitude angle_series magnitude_series angle_global magnitude_global"
outs="$outs angle_series_global magnitude_series_global"
job() {
  "$rt" change -o "$tmp/$1" --format "$2" --ref-years 1971-2000 --fut-years 2071-2100 \
    --param tas 2 "$tmp/tas_ref.nc" "$tmp/tas_fut.nc" --param pr 1 "$tmp/pr_ref.nc" \
    "$tmp/pr_fut.nc" --param rsds 1 "$tmp/rsds_ref.nc" "$tmp/rsds_fut.nc"
}
chain() {
  for n in $names; do "$rt" import "$tmp/$n.nc" -o "$tmp/c_$n.bin"; done
  local npixel
  npixel=$(($(stat -c %s "$tmp/c_tas_ref.grid.bin") / 4))
  local o=()
  for n in $outs; do o+=("$tmp/c_$n.bin"); done
  "$corvane" 3 0 0 30 30 30 0 0 "$tmp/c_tas_ref.grid.bin" 0.5 \
    2 "$tmp/c_tas_ref.bin" "$tmp/c_tas_fut.bin" 1 "$tmp/c_pr_ref.bin" "$tmp/c_pr_fut.bin" \
    1 "$tmp/c_rsds_ref.bin" "$tmp/c_rsds_fut.bin" "$npixel" "${o[@]}"
  for n in $outs; do
    local series=()
    [[ $n == *series* ]] && series=(--bands-per-year 1 --first-year 1971)
    "$rt" export "$tmp/c_$n.bin" -o "$tmp/c_$n.nc" --grid "$tmp/c_tas_ref.grid.bin" \
      --var "$n" "${series[@]}"
  done
}

# The same values both ways.
job raw raw >/dev/null
chain >/dev/null
for n in $outs; do cmp "$tmp/raw/$n.bin" "$tmp/c_$n.bin"; done
echo "raw outputs of change and of the chain are the same bytes"
export -f job chain
export rt corvane tmp names outs

source bench/lib.sh
: >"$tmp/results"
for ((i = 0; i < reps; ++i)); do
  rm -rf "$tmp/job" "$tmp"/c_*
  bench_run change bash -c 'job job netcdf'
  bench_run chain bash -c chain
done

bench_report_pair change chain " (target at most 0.5)"
