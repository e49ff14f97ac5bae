#!/usr/bin/env bash
# Times the eight band tools on 0.5-degree land pixels (61534), 12 bands x 100 years (295 MB
# per file), each next to a floor moving the same input bytes into an output file in the same
# run: `cat in1 in2 > out` for the two-file tools, `cat in > out` for the one-file tools, and for
# slivet `keepcopy`, which reads and writes only the bands slivet keeps. Inputs are read warm
# from the page cache; every output is removed before its run so each one creates a fresh file.
# Reports the median wall time of several runs on all CPUs (and of logistic on one thread), the
# ratio to the tool's own floor, and the peak resident memory from GNU time.
#
#   bench/bandmath.sh [BUILD_DIR]     (default: build; REPS=n to change the number of runs)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bin="$build/bin"
gen="$build/bench/rastergen"
keepcopy="$build/bench/keepcopy"
for b in "$bin"/{sum,mult,div,add,scale,limits,logistic,slivet} "$gen" "$keepcopy"; do
  [[ -x "$b" ]] || { echo "missing $b (build first)" >&2; exit 1; }
done

npixel=61534
nbands=12
nyears=100
reps=${REPS:-5}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

grid=data/grid_0.5deg_centre.bin
"$gen" "$tmp/t.bin" $npixel $nbands $nyears seasonal --grid $grid
# Fractions in [0.2, 1] (and some -0.2): as divisors they keep quotients below the cap.
"$gen" "$tmp/f.bin" $npixel $nbands $nyears frac --seed 2 --grid $grid
cat "$tmp/t.bin" "$tmp/f.bin" >/dev/null

source bench/lib.sh
# Every output is removed first, so each run creates it as a first run does.
timed() {
  rm -f "$tmp/out.bin"
  bench_run "$@"
}

t="$tmp/t.bin"
f="$tmp/f.bin"
o="$tmp/out.bin"
: >"$tmp/results"
for ((i = 0; i < reps; ++i)); do
  timed cat1 sh -c "cat '$t' > '$o'"
  timed cat2 sh -c "cat '$t' '$f' > '$o'"
  timed keep sh -c "'$keepcopy' '$t' '$o' $npixel $nbands 5 7"
  timed sum "$bin/sum" "$t" "$f" "$o" $npixel
  timed mult "$bin/mult" "$t" "$f" "$o" $npixel
  timed div "$bin/div" "$t" "$f" "$o" $npixel
  timed add "$bin/add" "$t" "$o" 0.5 $npixel
  timed scale "$bin/scale" "$t" "$o" 1.5 $npixel
  timed limits "$bin/limits" "$t" "$o" $npixel -10 10
  timed logistic "$bin/logistic" "$t" "$o" $npixel
  timed logistic-1t env OMP_NUM_THREADS=1 "$bin/logistic" "$t" "$o" $npixel
  timed slivet "$bin/slivet" "$t" "$o" $npixel $nbands 5 7
done

echo "bandmath: $npixel pixels x $nbands bands x $nyears years," \
  "$(($(stat -c %s "$t") / 1000000)) MB per input, median of $reps warm runs"
awk "$bench_awk_stats"'
  END {
    floor["sum"] = "cat2"; floor["mult"] = "cat2"; floor["div"] = "cat2"
    floor["add"] = "cat1"; floor["scale"] = "cat1"; floor["limits"] = "cat1"
    floor["logistic"] = "cat1"; floor["logistic-1t"] = "cat1"; floor["slivet"] = "keep"
    printf "%-10s %10s %8s %10s %8s %10s\n", "command", "wall ms", "floor", "floor ms", "ratio", "peak MB"
    printf "%-10s %10.1f %8s %10s %8s %10.1f\n", "cat1", median(t["cat1"]) / 1000, "", "", "", m["cat1"] / 1024
    printf "%-10s %10.1f %8s %10s %8s %10.1f\n", "cat2", median(t["cat2"]) / 1000, "", "", "", m["cat2"] / 1024
    printf "%-10s %10.1f %8s %10s %8s %10.1f\n", "keep", median(t["keep"]) / 1000, "", "", "", m["keep"] / 1024
    n = split("sum mult div add scale limits logistic logistic-1t slivet", order, " ")
    for (k = 1; k <= n; ++k) {
      c = order[k]; w = median(t[c]); fl = median(t[floor[c]])
      printf "%-10s %10.1f %8s %10.1f %8.2f %10.1f\n", c, w / 1000, floor[c], fl / 1000, w / fl, m[c] / 1024
    }
  }' "$tmp/results"
