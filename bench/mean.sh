#!/usr/bin/env bash
# Times `mean` over 30 of 100 years of a 0.5-degree monthly file (61534 pixels x 12 bands),
# once for the means alone and once with "-sd -gm" (two passes), each on the default thread
# count and on one thread (OMP_NUM_THREADS=1), next to `cat` reading the same 30 years (the
# same bytes, copied out beforehand) in the same run. Everything is read warm from the page
# cache, after the generated files have gone to disk (so that no writeback runs alongside).
# Reports the median and the best wall time of several runs (REPS, default 7), each with its
# ratio to the `cat` floor, and the peak resident memory (GNU time).
#
#   bench/mean.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
mean="$build/bin/mean"
gen="$build/bench/rastergen"
for b in "$mean" "$gen"; do
  [[ -x "$b" ]] || { echo "missing $b (build first)" >&2; exit 1; }
done

npixel=61534
nbands=12
first=35
last=64
reps=${REPS:-7}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$gen" "$tmp/in.bin" $npixel $nbands 100 seasonal --grid data/grid_0.5deg_centre.bin
yearbytes=$((npixel * nbands * 4))
nyear=$((last - first + 1))
dd if="$tmp/in.bin" of="$tmp/years.bin" iflag=skip_bytes,count_bytes \
  skip=$((first * yearbytes)) count=$((nyear * yearbytes)) bs=4M status=none
sync "$tmp/in.bin" "$tmp/years.bin"  # written back now, not while the contenders run
cat "$tmp/in.bin" "$tmp/years.bin" >/dev/null  # warm the cache for every contender

source bench/lib.sh

: >"$tmp/results"
for ((i = 0; i < reps; ++i)); do
  bench_run cat cat "$tmp/years.bin"
  rm -f "$tmp/out1.bin" "$tmp/out2.bin"  # each run creates its output, as a first run does
  bench_run mean "$mean" "$tmp/in.bin" "$tmp/out1.bin" $npixel $first $last $nbands
  bench_run mean-sd-gm "$mean" "$tmp/in.bin" "$tmp/out2.bin" $npixel $first $last $nbands -sd -gm
  rm -f "$tmp/out1.bin" "$tmp/out2.bin"
  # The variable reaches the command that bench_run starts.
  OMP_NUM_THREADS=1 bench_run mean-1t \
    "$mean" "$tmp/in.bin" "$tmp/out1.bin" $npixel $first $last $nbands
  OMP_NUM_THREADS=1 bench_run mean-sd-gm-1t \
    "$mean" "$tmp/in.bin" "$tmp/out2.bin" $npixel $first $last $nbands -sd -gm
done

echo "mean: $nyear of 100 years, $npixel pixels x $nbands bands," \
  "$((nyear * yearbytes / 1000000)) MB read per pass, median of $reps warm runs;" \
  "default threads: $(nproc); -1t: OMP_NUM_THREADS=1"
awk "$bench_awk_stats"'
  END {
    floor = median(t["cat"]); bfloor = best(t["cat"])
    printf "%-14s %10s %8s %10s %8s %10s\n", "command", "median ms", "ratio", "best ms", "ratio", "peak MB"
    n = split("cat mean mean-sd-gm mean-1t mean-sd-gm-1t", order, " ")
    for (k = 1; k <= n; ++k) {
      c = order[k]; w = median(t[c]); b = best(t[c])
      printf "%-14s %10.1f %8.2f %10.1f %8.2f %10.1f\n", c, w / 1000, w / floor, b / 1000, b / bfloor, m[c] / 1024
    }
  }' "$tmp/results"
