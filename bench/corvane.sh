#!/usr/bin/env bash
# corvane on a realistic run: the 0.5 degree land grid (61,534 pixels), 3 parameters of 12 bands
# a year, reference and future files of 100 years each, 30-year slices. Reports median and best
# wall time and peak memory (GNU time) of corvane on all CPUs and on one thread, and of `cat`
# reading every input once in the same rounds, all with the files in the page cache, and the
# ratios of the medians to the cat floor.
#   bench/corvane.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
gen="$build/bench/rastergen"
tool="$build/bin/corvane"
grid=data/grid_0.5deg_centre.bin
for exe in "$gen" "$tool"; do
  [[ -x "$exe" ]] || { echo "missing $exe: build first (make)" >&2; exit 1; }
done
[[ -x /usr/bin/time ]] || { echo "GNU time (/usr/bin/time) is needed: make deps" >&2; exit 1; }

npixel=$(($(stat -c %s "$grid") / 4))
nbands=12
nyears=100
work=$(mktemp -d)
trap '[[ -n "${KEEP_BENCH_DIR:-}" ]] || rm -rf "$work"' EXIT

echo "generating 6 files of $nyears years x $nbands bands x $npixel pixels in $work"
inputs=()
seed=1
for kind in seasonal precip npp; do
  "$gen" "$work/$kind.ref" "$npixel" "$nbands" "$nyears" "$kind" --grid "$grid" --seed $seed
  "$gen" "$work/$kind.fut" "$npixel" "$nbands" "$nyears" "$kind" --grid "$grid" \
    --seed $((seed + 1)) --firstyear "$nyears"
  inputs+=("$work/$kind.ref" "$work/$kind.fut")
  seed=$((seed + 2))
done
inputs+=("$grid")

args=(3 0 0 "$nyears" "$nyears" 30 70 70 "$grid" 0.5
  1 "$work/seasonal.ref" "$work/seasonal.fut"
  1 "$work/precip.ref" "$work/precip.fut"
  1 "$work/npp.ref" "$work/npp.fut"
  "$npixel")
for n in 1 2 3 4 5 6 7 8; do args+=("$work/out$n.bin"); done

# Warm both ways before measuring: the input files and the program.
cat "${inputs[@]}" >/dev/null
"$tool" "${args[@]}" >/dev/null

# Five rounds, each timing cat, corvane on every CPU of the affinity mask and on one thread.
tmp=$work
source bench/lib.sh
for round in 1 2 3 4 5; do
  bench_run cat cat "${inputs[@]}"
  bench_run corvane "$tool" "${args[@]}"
  bench_run corvane-1-thread env OMP_NUM_THREADS=1 "$tool" "${args[@]}"
done

bytes=$(du -cb "${inputs[@]}" | tail -1 | cut -f1)
echo "inputs:  $((bytes / 1000000)) MB in ${#inputs[@]} files; $(nproc) CPUs"
awk "$bench_awk_stats"'
  END {
    floor = median(t["cat"])
    printf "%-17s %8s %8s %7s %9s\n", "run", "median s", "best s", "x cat", "peak MiB"
    n = split("cat corvane corvane-1-thread", names, " ")
    for (i = 1; i <= n; ++i) {
      k = names[i]
      printf "%-17s %8.3f %8.3f %7.2f %9d\n", k, median(t[k]) / 1e6, best(t[k]) / 1e6,
             median(t[k]) / floor, m[k] / 1024
    }
  }' "$work/results"
