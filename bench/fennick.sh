#!/usr/bin/env bash
# Benchmark of fennick on 0.5 degree land pixels (61534) with two 30-year FPC periods, against
# `cat` of the same input bytes in the same run (warm page cache for both). fennick is timed on
# its default thread count (the CPUs it may use, or OMP_NUM_THREADS) and on one thread.
#   bench/fennick.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bin=$build/bin
timer=/usr/bin/time
reps=${REPS:-30}
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

fennick_args="'$tmp/fpc1.bin' '$tmp/fpc2.bin' '$tmp/out.bin' $years $years $npixel 0 0"
fennick_once="'$bin/fennick' $fennick_args"
fennick1_once="OMP_NUM_THREADS=1 '$bin/fennick' $fennick_args"
cat_once="cat '$tmp/fpc1.bin' '$tmp/fpc2.bin' > /dev/null"
threads=$(nproc)  # fennick's default: nproc too follows OMP_NUM_THREADS, else the affinity mask

# Warm the cache and check the runs work, and agree, before timing.
eval "$cat_once"
eval "$fennick1_once"
mv "$tmp/out.bin" "$tmp/out1.bin"
eval "$fennick_once"
[[ $(stat -c %s "$tmp/out.bin") -eq $((npixel * 4)) ]] || { echo "fennick output size wrong" >&2; exit 1; }
cmp -s "$tmp/out.bin" "$tmp/out1.bin" || { echo "fennick output differs on one thread" >&2; exit 1; }

# GNU time's resolution is 10 ms, so each figure covers $reps runs (with 30, a tick is well
# under a tenth of a run of cat); %M is the largest resident set of any one run. cat and fennick
# take turns for $rounds rounds and the best round of each counts, which keeps other load on the
# machine from deciding the ratio.
measure() {
  "$timer" -f '%e %M' -o "$tmp/time" bash -c "for ((i = 0; i < $reps; ++i)); do $1; done"
  cat "$tmp/time"
}
best() { awk -v a="$1" -v b="${2:-$1}" 'BEGIN { print (a < b ? a : b) }'; }
cat_s=; fen_s=; fen1_s=
for ((r = 0; r < rounds; ++r)); do
  read -r s cat_kb < <(measure "$cat_once")
  cat_s=$(best "$s" "$cat_s")
  read -r s fen_kb < <(measure "$fennick_once")
  fen_s=$(best "$s" "$fen_s")
  read -r s fen1_kb < <(measure "$fennick1_once")
  fen1_s=$(best "$s" "$fen1_s")
done

awk -v n="$reps" -v b="$bytes" -v cs="$cat_s" -v ck="$cat_kb" -v fs="$fen_s" -v fk="$fen_kb" \
  -v f1s="$fen1_s" -v f1k="$fen1_kb" -v t="$threads" \
  -v np="$npixel" -v y="$years" -v rr="$rounds" 'BEGIN {
  printf "fennick: %d pixels, two %d-year periods, %.1f MB read per run\n", np, y, b / 1e6
  printf "  best of %d rounds of %d runs each (warm page cache)\n", rr, n
  printf "  cat                 %.4f s/run  peak %6.1f MB\n", cs / n, ck / 1024
  printf "  fennick, %2d threads %.4f s/run  peak %6.1f MB\n", t, fs / n, fk / 1024
  printf "  fennick,  1 thread  %.4f s/run  peak %6.1f MB\n", f1s / n, f1k / 1024
  printf "  ratio fennick/cat: %.2f on %d threads (target 1.5 or less), %.2f on 1 thread\n",
         (cs > 0 ? fs / cs : 0), t, (cs > 0 ? f1s / cs : 0)
}'
