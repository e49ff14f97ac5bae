#!/usr/bin/env bash
# corvane's memory against the length and the resolution of a run (3 parameters, 12 bands a
# year): nyear_ref 100 and 400 on the 0.5 degree land grid (30-year slices), and a 5 arcmin land
# grid (every 0.5 degree land cell split into 6 x 6 cells: 2.2 million pixels) with 20-year
# files and 10-year slices. Prints wall time and peak memory (GNU time) per case; the files of
# one case are removed before the next is made (the 5 arcmin case needs about 13 GB of disk).
#   bench/corvane-scale.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
gen="$build/bench/rastergen"
split="$build/bench/gridsplit"
tool="$build/bin/corvane"
for exe in "$gen" "$split" "$tool"; do
  [[ -x "$exe" ]] || { echo "missing $exe: build first (make)" >&2; exit 1; }
done
[[ -x /usr/bin/time ]] || { echo "GNU time (/usr/bin/time) is needed: make deps" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# case NAME GRID RES NYEARS NYEAR_AVG
run_case() {
  local name=$1 grid=$2 res=$3 nyears=$4 navg=$5
  local npixel=$(($(stat -c %s "$grid") / 4))
  local args=(3 0 0 "$nyears" "$nyears" "$navg" 0 0 "$grid" "$res")
  local seed=1
  for kind in seasonal precip npp; do
    "$gen" "$work/$kind.ref" "$npixel" 12 "$nyears" "$kind" --grid "$grid" --seed $seed
    "$gen" "$work/$kind.fut" "$npixel" 12 "$nyears" "$kind" --grid "$grid" --seed $((seed + 1)) \
      --firstyear "$nyears"
    args+=(1 "$work/$kind.ref" "$work/$kind.fut")
    seed=$((seed + 2))
  done
  args+=("$npixel")
  for n in 1 2 3 4 5 6 7 8; do args+=("$work/out$n.bin"); done
  local bytes
  bytes=$(du -cb "$work"/*.ref "$work"/*.fut | tail -1 | cut -f1)
  /usr/bin/time -f '%e %M' -o "$work/time" "$tool" "${args[@]}" >/dev/null
  read -r s kb <"$work/time"
  printf '%-28s %9d px %4d years %6d MB input: %6.2f s, peak %5d MiB\n' "$name" "$npixel" \
    "$nyears" $((bytes / 1000000)) "$s" $((kb / 1024))
  rm -f "$work"/*.ref "$work"/*.fut "$work"/out*.bin
}

run_case "0.5 degree, 100 years" data/grid_0.5deg_centre.bin 0.5 100 30
run_case "0.5 degree, 400 years" data/grid_0.5deg_centre.bin 0.5 400 30
"$split" data/grid_0.5deg_centre.bin "$work/grid_5min.bin" 0.5 6
run_case "5 arcmin, 20 years" "$work/grid_5min.bin" 0.0833333333 20 10
