#!/usr/bin/env bash
# corvane on a realistic run: the 0.5 degree land grid (61,534 pixels), 3 parameters of 12 bands
# a year, reference and future files of 100 years each, 30-year slices. Reports wall time and
# peak memory (GNU time) and the time `cat` takes to read every input once in the same run,
# both with the files in the page cache, and their ratio.
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

measure() { # prints "seconds peak_kB"
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null
  cat "$work/time"
}
read -r cat_s cat_kb < <(measure cat "${inputs[@]}")
read -r run_s run_kb < <(measure "$tool" "${args[@]}")
read -r cat2_s _ < <(measure cat "${inputs[@]}")
floor=$(awk -v a="$cat_s" -v b="$cat2_s" 'BEGIN { print (a < b ? a : b) }')

bytes=$(du -cb "${inputs[@]}" | tail -1 | cut -f1)
echo "inputs:  $((bytes / 1000000)) MB in ${#inputs[@]} files"
echo "cat:     ${floor} s (best of two), peak ${cat_kb} kB"
echo "corvane: ${run_s} s, peak ${run_kb} kB ($((run_kb / 1024)) MiB)"
awk -v r="$run_s" -v f="$floor" 'BEGIN { printf "ratio:   %.1fx the cat floor\n", (f > 0 ? r / f : 0) }'
