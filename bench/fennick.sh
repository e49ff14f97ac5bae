#!/usr/bin/env bash
# Benchmark of fennick on 0.5 degree land pixels (61534) with two 30-year FPC periods, against
# `cat` of the same input bytes in the same run (warm page cache for both).
#   bench/fennick.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bin=$build/bin
timer=/usr/bin/time
reps=${REPS:-10}
rounds=${ROUNDS:-3}
npixel=61534
years=30

for exe in "$bin/fennick" "$build/bench/rastergen" "$timer"; do
  [[ -x $exe ]] || { echo "missing $exe (build first: make)" >&2; exit 1; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

grid=data/grid_0.5deg_centre.bin
"$build/bench/rastergen" "$tmp/fpc1.bin" $npixel 10 $years fpc --grid $grid --seed 1
"$build/bench/rastergen" "$tmp/fpc2.bin" $npixel 10 $years fpc --grid $grid --seed 2 --firstyear $years
bytes=$(($(stat -c %s "$tmp/fpc1.bin") + $(stat -c %s "$tmp/fpc2.bin")))

fennick_once="'$bin/fennick' '$tmp/fpc1.bin' '$tmp/fpc2.bin' '$tmp/out.bin' $years $years $npixel 0 0"
cat_once="cat '$tmp/fpc1.bin' '$tmp/fpc2.bin' > /dev/null"

# Warm the cache and check the run works before timing.
eval "$cat_once"
eval "$fennick_once"
[[ $(stat -c %s "$tmp/out.bin") -eq $((npixel * 4)) ]] || { echo "fennick output size wrong" >&2; exit 1; }

# GNU time's resolution is 10 ms, so each figure covers $reps runs; %M is the largest resident
# set of any one run. cat and fennick take turns for $rounds rounds and the best round of each
# counts, which keeps other load on the machine from deciding the ratio.
measure() {
  "$timer" -f '%e %M' -o "$tmp/time" bash -c "for ((i = 0; i < $reps; ++i)); do $1; done"
  cat "$tmp/time"
}
cat_s=; fen_s=
for ((r = 0; r < rounds; ++r)); do
  read -r s cat_kb < <(measure "$cat_once")
  cat_s=$(awk -v a="$s" -v b="${cat_s:-$s}" 'BEGIN { print (a < b ? a : b) }')
  read -r s fen_kb < <(measure "$fennick_once")
  fen_s=$(awk -v a="$s" -v b="${fen_s:-$s}" 'BEGIN { print (a < b ? a : b) }')
done

awk -v n="$reps" -v b="$bytes" -v cs="$cat_s" -v ck="$cat_kb" -v fs="$fen_s" -v fk="$fen_kb" \
  -v np="$npixel" -v y="$years" -v rr="$rounds" 'BEGIN {
  printf "fennick: %d pixels, two %d-year periods, %.1f MB read per run\n", np, y, b / 1e6
  printf "  best of %d rounds of %d runs each (warm page cache)\n", rr, n
  printf "  cat     %.4f s/run  peak %6.1f MB\n", cs / n, ck / 1024
  printf "  fennick %.4f s/run  peak %6.1f MB\n", fs / n, fk / 1024
  printf "  ratio fennick/cat: %.2f (target 1.5 or less)\n", (cs > 0 ? fs / cs : 0)
}'
