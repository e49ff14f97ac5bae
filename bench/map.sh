#!/usr/bin/env bash
# Times `rastertools map --bands` over 10 years of a 0.5-degree monthly file (61534 pixels x
# 120 bands, one map each): with each map's own colour range, and with --common-range (two more
# passes over all bands, exact percentiles in bounded memory); also one map of band 0 with the
# frame and --graticule. Reports the median and best wall time of several runs (REPS, default
# 3), the time per map and the peak resident memory (GNU time); the input is read warm.
#
#   bench/map.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
map="$build/bin/rastertools-map"
gen="$build/bench/rastergen"
for b in "$map" "$gen"; do
  [[ -x "$b" ]] || { echo "missing $b (build first)" >&2; exit 1; }
done

grid=data/grid_0.5deg_centre.bin
npixel=61534
nbands=120
reps=${REPS:-3}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$gen" "$tmp/in.bin" $npixel 12 10 seasonal --grid $grid
cat "$tmp/in.bin" >/dev/null  # warm the cache

source bench/lib.sh

: >"$tmp/results"
for ((i = 0; i < reps; ++i)); do
  bench_run own-range "$map" "$tmp/in.bin" --grid $grid --bands 0-$((nbands - 1)) \
    --out "$tmp/own_%03d.png"
  bench_run common-range "$map" "$tmp/in.bin" --grid $grid --bands 0-$((nbands - 1)) \
    --out "$tmp/common_%03d.png" --common-range
  bench_run one-graticule "$map" "$tmp/in.bin" --grid $grid -o "$tmp/one.png" --graticule
done

echo "map: $npixel pixels x $nbands bands of a 0.5-degree grid, one map per band" \
  "(about 720 x 280 map pixels), median of $reps warm runs"
awk -v nbands=$nbands "$bench_awk_stats"'
  END {
    printf "%-14s %10s %10s %10s %10s\n", "command", "median ms", "best ms", "ms per map", "peak MB"
    n = split("own-range common-range one-graticule", order, " ")
    for (k = 1; k <= n; ++k) {
      c = order[k]; w = median(t[c]); b = best(t[c]); per = (c == "one-graticule") ? 1 : nbands
      printf "%-14s %10.1f %10.1f %10.1f %10.1f\n", c, w / 1000, b / 1000, w / 1000 / per, m[c] / 1024
    }
  }' "$tmp/results"
