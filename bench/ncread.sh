#!/usr/bin/env bash
# Decoding a deflated NetCDF-4 variable: 30 years of monthly 0.5-degree "tas" (360 x 720 cells,
# 360 steps, float, ocean cells _FillValue as in ISIMIP files), written twice:
#   shuffle  deflate level 5 + shuffle, chunks of one step (1, 360, 720)
#   cdo      the same through `cdo -f nc4 -z zip_5 copy`, which is how CDO (and ISIMIP, which
#            publishes CDO's output) stores it: chunks (1, 360, 720), deflate 5, no shuffle
# Each is decoded whole through nc_get_vara_float step by step ("netcdf") and through
# StepReader a year per read on 1 and 2 threads ("reader-1t", "reader-2t"; the checksums of
# the three must agree), and, for reference, reduced by `cdo ymonmean` and `cdo ymonstd` (the
# budget of the climatology command: a third of their sum). Warm page cache; the machine may
# be shared, so each wall time is given as the best, the median and the worst of REPS runs
# (default 5), next to the best CPU time (user + system, all threads).
#
#   bench/ncread.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bench="$build/bench/ncread_bench"
[[ -x "$bench" ]] || { echo "missing $bench (build the ncread_bench target first)" >&2; exit 1; }
command -v cdo >/dev/null || { echo "cdo is not installed" >&2; exit 1; }
reps=${REPS:-5}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$bench" write "$tmp/shuffle.nc" data/grid_0.5deg_centre.bin
cdo -s -f nc4 -z zip_5 copy "$tmp/shuffle.nc" "$tmp/cdo.nc"
sync "$tmp/shuffle.nc" "$tmp/cdo.nc"  # written back now, not while the contenders run
files="shuffle cdo"
for f in $files; do
  echo "$f.nc: $(($(stat -c %s "$tmp/$f.nc") / 1000000)) MB;" \
    "$(ncdump -hs "$tmp/$f.nc" | grep -E 'tas:_(ChunkSizes|Shuffle|DeflateLevel)' |
      sed 's/^[[:space:]]*tas://; s/ ;$//' | paste -sd ' ')"
  cat "$tmp/$f.nc" >/dev/null
  sums=$(for m in "netcdf" "reader 1" "reader 2"; do "$bench" read "$tmp/$f.nc" tas $m; done |
    sort -u | wc -l)
  [[ $sums == 1 ]] || { echo "$f.nc: the readers disagree" >&2; exit 1; }
done

source bench/lib.sh

: >"$tmp/results"
for ((i = 0; i < reps; ++i)); do
  for f in $files; do
    bench_run "$f-netcdf" "$bench" read "$tmp/$f.nc" tas netcdf
    bench_run "$f-reader-1t" "$bench" read "$tmp/$f.nc" tas reader 1
    bench_run "$f-reader-2t" "$bench" read "$tmp/$f.nc" tas reader 2
    bench_run "$f-cdo-ymonmean" cdo -s ymonmean "$tmp/$f.nc" "$tmp/mean.nc"
    bench_run "$f-cdo-ymonstd" cdo -s ymonstd "$tmp/$f.nc" "$tmp/std.nc"
    rm -f "$tmp/mean.nc" "$tmp/std.nc"
  done
done

echo "wall seconds of $reps warm runs on $(nproc) CPUs (load average at the end:" \
  "$(cut -d' ' -f1-3 /proc/loadavg))"
awk "$bench_awk_stats"'
  function worst(s,   a, n) { n = sorted(s, a); return a[n] }
  END {
    printf "%-22s %8s %8s %8s %8s %8s\n", "run", "best", "median", "worst", "cpu", "peak MB"
    n = split("'"$files"'", fs, " ")
    for (k = 1; k <= n; ++k) {
      split("netcdf reader-1t reader-2t cdo-ymonmean cdo-ymonstd", kinds, " ")
      for (j = 1; j <= 5; ++j) {
        c = fs[k] "-" kinds[j]
        printf "%-22s %8.2f %8.2f %8.2f %8.2f %8.1f\n", c, best(t[c]) / 1e6, median(t[c]) / 1e6,
          worst(t[c]) / 1e6, best(u[c]) / 1e6, m[c] / 1024
      }
      cdo = best(t[fs[k] "-cdo-ymonmean"]) + best(t[fs[k] "-cdo-ymonstd"])
      printf "%-22s netcdf/reader-2t %.1f, reader-1t/reader-2t %.2f, (ymonmean+ymonstd)/reader-2t %.1f\n",
        fs[k] ":", best(t[fs[k] "-netcdf"]) / best(t[fs[k] "-reader-2t"]),
        best(t[fs[k] "-reader-1t"]) / best(t[fs[k] "-reader-2t"]), cdo / best(t[fs[k] "-reader-2t"])
    }
  }' "$tmp/results"
