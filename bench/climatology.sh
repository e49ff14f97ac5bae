#!/usr/bin/env bash
# `rastertools climatology --sd` of 30 years of monthly 0.5-degree "tas" (360 x 720 cells, 360
# steps, ocean cells _FillValue), stored as ISIMIP distributes it (CDO's NetCDF-4: chunks of one
# step, deflate 5, no shuffle), NetCDF to NetCDF, against `cdo ymonmean` plus `cdo ymonstd` on
# the same file (the target: at most a third of their sum). Warm page cache; wall times as the
# best and the median of REPS runs (default 5), with the best CPU time and the peak memory.
#
#   bench/climatology.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
gen="$build/bench/ncread_bench"
rt="$build/bin/rastertools"
for b in "$gen" "$rt"; do
  [[ -x "$b" ]] || { echo "missing $b (build ncread_bench and rastertools-climatology)" >&2; exit 1; }
done
command -v cdo >/dev/null || { echo "cdo is not installed" >&2; exit 1; }
reps=${REPS:-5}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$gen" write "$tmp/gen.nc" data/grid_0.5deg_centre.bin
cdo -s -f nc4 -z zip_5 copy "$tmp/gen.nc" "$tmp/tas.nc"
sync "$tmp/tas.nc"
cat "$tmp/tas.nc" >/dev/null
echo "tas.nc: $(($(stat -c %s "$tmp/tas.nc") / 1000000)) MB, 360 monthly steps of 360 x 720"

source bench/lib.sh
: >"$tmp/results"
for ((i = 0; i < reps; ++i)); do
  bench_run climatology "$rt" climatology "$tmp/tas.nc" -o "$tmp/clim.nc" --years 1971-2000 --sd
  bench_run cdo-ymonmean cdo -s ymonmean "$tmp/tas.nc" "$tmp/mean.nc"
  bench_run cdo-ymonstd cdo -s ymonstd "$tmp/tas.nc" "$tmp/std.nc"
  rm -f "$tmp/clim.nc" "$tmp/mean.nc" "$tmp/std.nc"
done

echo "wall seconds of $reps warm runs on $(nproc) CPUs (load average at the end:" \
  "$(cut -d' ' -f1-3 /proc/loadavg))"
awk "$bench_awk_stats"'
  END {
    printf "%-14s %8s %8s %8s %8s\n", "run", "best", "median", "cpu", "peak MB"
    split("climatology cdo-ymonmean cdo-ymonstd", k, " ")
    for (j = 1; j <= 3; ++j)
      printf "%-14s %8.2f %8.2f %8.2f %8.1f\n", k[j], best(t[k[j]]) / 1e6, median(t[k[j]]) / 1e6,
        best(u[k[j]]) / 1e6, m[k[j]] / 1024
    cdo = median(t["cdo-ymonmean"]) + median(t["cdo-ymonstd"])
    printf "climatology / (ymonmean + ymonstd), medians: %.2f (target at most 0.33)\n",
      median(t["climatology"]) / cdo
  }' "$tmp/results"
