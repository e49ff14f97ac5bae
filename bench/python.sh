#!/usr/bin/env bash
# The Python package on 30 years of monthly data on the 0.5 degree land grid (61534 pixels x
# 360 bands, 89 MB): the area-weighted global mean of every band from the pixels (open_raw),
# the same after placing every band on the full grid (to_grid), a bit-exact copy (write_raw),
# and the way without the package (export to NetCDF, then xarray on the NetCDF file), next to
# `cat` reading the same file and Python importing the packages (each step runs as its own
# program and includes that start). Warm page cache; median and best wall time of REPS runs
# (default 5) and the peak resident memory (GNU time).
#
#   bench/python.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
gen="$build/bench/rastergen"
export="$build/bin/rastertools-export"
for b in "$gen" "$export"; do
  [[ -x "$b" ]] || { echo "missing $b (build first)" >&2; exit 1; }
done
py=${PYTHON:-/usr/bin/python3}
grid=data/grid_0.5deg_centre.bin
npixel=61534
reps=${REPS:-5}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$gen" "$tmp/tas.bin" $npixel 12 30 seasonal --grid "$grid" --offset 273.15 >/dev/null
cat >"$tmp/tas.hdr" <<EOF
ENVI
samples = $npixel
bands = 360
rastertools grid file = $PWD/$grid
rastertools resolution = 0.5
rastertools bands per year = 12
rastertools first year = 1971
EOF
sync "$tmp/tas.bin"
cat "$tmp/tas.bin" >/dev/null

# Python programs, quiet unless something fails (Debian's netCDF4 warns about numpy on import).
pyrun=(env PYTHONPATH=python "$py" -W ignore::RuntimeWarning -c)
imports='import sys, numpy, xarray, rastertools'
pixels='import sys, numpy as np, rastertools as rt
da = rt.open_raw(sys.argv[1] + "/tas.bin")
da.weighted(np.cos(np.deg2rad(da.lat))).mean("pixel").values'
onto_grid='import sys, numpy as np, rastertools as rt
g = rt.open_raw(sys.argv[1] + "/tas.bin", chunks=12).rastertools.to_grid()
g.weighted(np.cos(np.deg2rad(g.lat))).mean(("lat", "lon")).values'
copy='import sys, rastertools as rt
rt.write_raw(rt.open_raw(sys.argv[1] + "/tas.bin"), sys.argv[1] + "/copy.bin")'
netcdf='import sys, numpy as np, xarray as xr
g = xr.open_dataset(sys.argv[1] + "/tas.nc", chunks={"time": 12})["tas"]
g.weighted(np.cos(np.deg2rad(g.lat))).mean(("lat", "lon")).values'

source bench/lib.sh
: >"$tmp/results"
for ((i = 0; i < reps; ++i)); do
  bench_run cat cat "$tmp/tas.bin"
  bench_run imports "${pyrun[@]}" "$imports" "$tmp"
  bench_run open_raw "${pyrun[@]}" "$pixels" "$tmp"
  bench_run to_grid "${pyrun[@]}" "$onto_grid" "$tmp"
  rm -f "$tmp/copy.bin" "$tmp/copy.grid.bin" "$tmp/copy.hdr"
  bench_run write_raw "${pyrun[@]}" "$copy" "$tmp"
  rm -f "$tmp/tas.nc"
  bench_run export "$export" "$tmp/tas.bin" --var tas -o "$tmp/tas.nc"
  bench_run xr-netcdf "${pyrun[@]}" "$netcdf" "$tmp"
done
cmp "$tmp/tas.bin" "$tmp/copy.bin"

echo "python: $npixel pixels x 360 bands (89 MB), median of $reps warm runs; the NetCDF way is" \
  "export + xr-netcdf"
awk "$bench_awk_stats"'
  END {
    floor = median(t["cat"])
    printf "%-10s %10s %8s %10s %10s\n", "step", "median ms", "ratio", "best ms", "peak MB"
    n = split("cat imports open_raw to_grid write_raw export xr-netcdf", order, " ")
    for (k = 1; k <= n; ++k) {
      c = order[k]; w = median(t[c])
      printf "%-10s %10.1f %8.2f %10.1f %10.1f\n", c, w / 1000, w / floor, best(t[c]) / 1000, m[c] / 1024
    }
  }' "$tmp/results"
