#!/usr/bin/env bash
# Times `rastertools yearly` and `rastertools fldstat` against the cdo commands that compute the
# same on the same NetCDF file: 30 years of monthly 0.5-degree productivity-like data on the
# 61534 land pixels of data/grid_0.5deg_centre.bin, written by `rastertools export` (NetCDF-4,
# deflated, one chunk a step, as ISIMIP distributes such files).
#
#   yearly-sum    rastertools yearly IN.bin -o OUT.nc --stat sum   vs  cdo yearsum IN.nc OUT.nc
#   yearly-djf    ... --season DJF --stat mean                      vs  cdo seasmean -selseason,DJF
#   fldstat-sum   rastertools fldstat IN.bin --stat sum -o T.csv    vs  cdo fldsum -mul IN.nc
#                                                                       -gridarea IN.nc OUT.nc
#
# The suite's commands read the raw file that `rastertools import` makes of the NetCDF file
# (the import timed on its own: import), and the NetCDF file directly (the -nc rows: decoded in
# memory on the threads, no raw file written; against the same cdo figure). Everything runs on 2 threads (OMP_NUM_THREADS=2,
# cdo -P 2), warm from the page cache. Reports the best, median and worst wall time of REPS
# runs (default 5) and the ratio of cdo's best to ours.
#
#   bench/aggregate.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bin="$build/bin"
gen="$build/bench/rastergen"
for b in "$bin/rastertools-yearly" "$bin/rastertools-fldstat" "$bin/rastertools-import" \
  "$bin/rastertools-export" "$gen"; do
  [[ -x "$b" ]] || { echo "missing $b (build first)" >&2; exit 1; }
done
command -v cdo >/dev/null || { echo "cdo is not installed" >&2; exit 1; }

grid=data/grid_0.5deg_centre.bin
npixel=$(($(stat -c %s "$grid") / 4))
reps=${REPS:-5}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$gen" "$tmp/gen.bin" "$npixel" 12 30 npp --grid "$grid"
"$bin/rastertools-export" "$tmp/gen.bin" -o "$tmp/in.nc" --grid "$grid" --bands-per-year 12 \
  --first-year 1971 --var gpp --units 'kg m-2 s-1' >/dev/null
"$bin/rastertools-import" "$tmp/in.nc" -o "$tmp/in.bin" >/dev/null
sync
cat "$tmp/in.nc" "$tmp/in.bin" >/dev/null  # warm the cache for every contender

source bench/lib.sh
export OMP_NUM_THREADS=2
cdo="cdo -s -P 2"

: >"$tmp/results"
for ((i = 0; i < reps; ++i)); do
  rm -f "$tmp"/out* "$tmp/imp"*
  bench_run import "$bin/rastertools-import" "$tmp/in.nc" -o "$tmp/imp.bin"
  bench_run yearly-sum "$bin/rastertools-yearly" "$tmp/in.bin" -o "$tmp/out1.nc" --stat sum
  bench_run yearly-sum-nc "$bin/rastertools-yearly" "$tmp/in.nc" -o "$tmp/out1n.nc" --stat sum
  bench_run cdo-yearsum $cdo yearsum "$tmp/in.nc" "$tmp/out2.nc"
  # The DJF run warns of the two incomplete seasons: its messages go to a file of their own.
  bench_run yearly-djf sh -c '"$@" 2>/dev/null' _ "$bin/rastertools-yearly" "$tmp/in.bin" \
    -o "$tmp/out3.nc" --season DJF --stat mean
  bench_run yearly-djf-nc sh -c '"$@" 2>/dev/null' _ "$bin/rastertools-yearly" "$tmp/in.nc" \
    -o "$tmp/out3n.nc" --season DJF --stat mean
  bench_run cdo-seasmean sh -c '"$@" 2>/dev/null' _ $cdo seasmean -selseason,DJF "$tmp/in.nc" \
    "$tmp/out4.nc"
  bench_run fldstat-sum "$bin/rastertools-fldstat" "$tmp/in.bin" --stat sum -o "$tmp/out5.csv"
  bench_run fldstat-sum-nc "$bin/rastertools-fldstat" "$tmp/in.nc" --stat sum -o "$tmp/out5n.csv"
  bench_run cdo-fldsum sh -c '"$@" 2>/dev/null' _ $cdo fldsum -mul "$tmp/in.nc" \
    -gridarea "$tmp/in.nc" "$tmp/out6.nc"
done
# The NetCDF input gives the raw input's results.
cmp "$tmp/out5.csv" "$tmp/out5n.csv"

echo "aggregate: 30 years x 12 months, $npixel pixels (0.5 degree), $(($(stat -c %s "$tmp/in.nc") / 1000000)) MB" \
  "NetCDF, $(($(stat -c %s "$tmp/in.bin") / 1000000)) MB raw; $reps warm runs, 2 threads; $(nproc) CPUs," \
  "load $(cut -d' ' -f1 /proc/loadavg)"
awk "$bench_awk_stats"'
  function worst(s,   a, n) { n = sorted(s, a); return a[n] }
  END {
    printf "%-15s %9s %9s %9s   %-13s %9s %7s\n", "command", "best ms", "median", "worst",
      "cdo", "best ms", "cdo/us"
    n = split("yearly-sum:cdo-yearsum yearly-sum-nc:cdo-yearsum yearly-djf:cdo-seasmean " \
      "yearly-djf-nc:cdo-seasmean fldstat-sum:cdo-fldsum fldstat-sum-nc:cdo-fldsum import:", pairs, " ")
    for (k = 1; k <= n; ++k) {
      split(pairs[k], p, ":")
      ours = p[1]; theirs = p[2]
      printf "%-15s %9.1f %9.1f %9.1f", ours, best(t[ours]) / 1000, median(t[ours]) / 1000,
        worst(t[ours]) / 1000
      if (theirs != "")
        printf "   %-13s %9.1f %7.2f", theirs, best(t[theirs]) / 1000, best(t[theirs]) / best(t[ours])
      printf "\n"
    }
  }' "$tmp/results"
