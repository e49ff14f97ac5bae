#!/usr/bin/env bash
# Times sum, div, scale, limits, logistic and slivet on 0.5-degree land pixels (61534), 12 bands
# x 100 years (295 MB per file), each next to `cat` moving the same input bytes into an output
# file in the same run: `cat in1 in2 > out` for the two-file tools, `cat in > out` for the
# others. Inputs are read warm from the page cache; every output is removed before its run so
# each one creates a fresh file. Reports the median wall time of several runs, the ratio to the
# tool's own `cat` floor, and the peak resident memory from GNU time.
#
#   bench/bandmath.sh [BUILD_DIR]     (default: build; REPS=n to change the number of runs)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bin="$build/bin"
for b in sum div scale limits logistic slivet rastergen; do
  [[ -x "$bin/$b" ]] || { echo "missing $bin/$b (build first)" >&2; exit 1; }
done

npixel=61534
nbands=12
nyears=100
reps=${REPS:-5}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

grid=data/grid_0.5deg_centre.bin
"$bin/rastergen" "$tmp/t.bin" $npixel $nbands $nyears seasonal --grid $grid
# Fractions in [0.2, 1] (and some -0.2): as divisors they keep quotients below the cap.
"$bin/rastergen" "$tmp/f.bin" $npixel $nbands $nyears frac --seed 2 --grid $grid
cat "$tmp/t.bin" "$tmp/f.bin" >/dev/null

# run NAME CMD...: one timed run into a fresh output; appends "NAME wall_us peak_kb".
run() {
  local name=$1
  shift
  rm -f "$tmp/out.bin"
  local t0 t1
  t0=$(date +%s%N)
  /usr/bin/time -f '%e %M' -o "$tmp/time" "$@" >/dev/null 2>"$tmp/err"
  t1=$(date +%s%N)
  if [[ -s "$tmp/err" ]]; then
    echo "$name wrote to stderr:" >&2
    head -3 "$tmp/err" >&2
    exit 1
  fi
  echo "$name $(((t1 - t0) / 1000)) $(cut -d' ' -f2 "$tmp/time")" >>"$tmp/results"
}

t="$tmp/t.bin"
f="$tmp/f.bin"
o="$tmp/out.bin"
: >"$tmp/results"
for ((i = 0; i < reps; ++i)); do
  run cat1 sh -c "cat '$t' > '$o'"
  run cat2 sh -c "cat '$t' '$f' > '$o'"
  run sum "$bin/sum" "$t" "$f" "$o" $npixel
  run div "$bin/div" "$t" "$f" "$o" $npixel
  run scale "$bin/scale" "$t" "$o" 1.5 $npixel
  run limits "$bin/limits" "$t" "$o" $npixel -10 10
  run logistic "$bin/logistic" "$t" "$o" $npixel
  run slivet "$bin/slivet" "$t" "$o" $npixel $nbands 5 7
done

echo "bandmath: $npixel pixels x $nbands bands x $nyears years," \
  "$(($(stat -c %s "$t") / 1000000)) MB per input, median of $reps warm runs"
awk '
  { t[$1] = t[$1] " " $2; if ($3 > m[$1]) m[$1] = $3 }
  function median(s,   a, n, i, j, x) {
    n = split(s, a, " ")
    for (i = 2; i <= n; ++i) { x = a[i]; for (j = i - 1; j >= 1 && a[j] > x; --j) a[j + 1] = a[j]; a[j + 1] = x }
    return (n % 2) ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
  }
  END {
    floor["sum"] = "cat2"; floor["div"] = "cat2"
    floor["scale"] = "cat1"; floor["limits"] = "cat1"; floor["logistic"] = "cat1"
    floor["slivet"] = "cat1"
    printf "%-10s %10s %8s %10s %8s %10s\n", "command", "wall ms", "floor", "floor ms", "ratio", "peak MB"
    printf "%-10s %10.1f %8s %10s %8s %10.1f\n", "cat1", median(t["cat1"]) / 1000, "", "", "", m["cat1"] / 1024
    printf "%-10s %10.1f %8s %10s %8s %10.1f\n", "cat2", median(t["cat2"]) / 1000, "", "", "", m["cat2"] / 1024
    split("sum div scale limits logistic slivet", order, " ")
    for (k = 1; k <= 6; ++k) {
      c = order[k]; w = median(t[c]); fl = median(t[floor[c]])
      printf "%-10s %10.1f %8s %10.1f %8.2f %10.1f\n", c, w / 1000, floor[c], fl / 1000, w / fl, m[c] / 1024
    }
  }' "$tmp/results"
