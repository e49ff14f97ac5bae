#!/usr/bin/env bash
# Times `rastertools import` on 30 years of monthly 0.5-degree data (360 steps of 720 x 360
# cells, float32, deflated, written by the netCDF4 Python module of Debian's python3):
#   const     the cells of the bundled land grid hold values in every step (one pass suffices);
#   seasonal  sea cells poleward of 60 degrees hold values only in their summer months, so the
#             first step does not tell the pixels (two passes);
#   chunk12   as const, but chunked 12 steps at a time (the chunk cache must hold a year).
# Next to each, `cdo -s copy` of the same file to an uncompressed NetCDF file (the cost of
# decompressing it once). The inputs are read warm from the page cache. Reports the median and
# best wall time of REPS runs (default 5) and the peak resident memory (GNU time).
#
#   bench/import.sh [BUILD_DIR]     (default: build; IMPORT=path times another import binary)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
import=${IMPORT:-$build/bin/rastertools-import}
[[ -x "$import" ]] || { echo "missing $import (build first)" >&2; exit 1; }
py=/usr/bin/python3
reps=${REPS:-5}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

gen() {  # gen OUT MASK TCHUNK
  "$py" - "$1" "$2" "$3" data/grid_0.5deg_northedge.bin <<'EOF'
import sys, numpy as np, netCDF4
path, mask_kind, tchunk, grid = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
g = np.fromfile(grid, dtype='<i2').reshape(-1, 2)
nt, ny, nx = 360, 360, 720
lat = 89.75 - 0.5 * np.arange(ny)
lon = -179.75 + 0.5 * np.arange(nx)
land = np.zeros((ny, nx), bool)
land[np.rint((90 - g[:, 1] / 100.0) / 0.5).astype(int),
     np.rint((g[:, 0] / 100.0 + 180) / 0.5 - 0.5).astype(int)] = True
ds = netCDF4.Dataset(path, 'w', format='NETCDF4')
ds.createDimension('time', None)
ds.createDimension('lat', ny)
ds.createDimension('lon', nx)
t = ds.createVariable('time', 'f8', ('time',))
t.units = 'days since 1971-01-01'
t.calendar = 'noleap'
ds.createVariable('lat', 'f8', ('lat',))[:] = lat
ds.createVariable('lon', 'f8', ('lon',))[:] = lon
v = ds.createVariable('tas', 'f4', ('time', 'lat', 'lon'), zlib=True, complevel=5,
                      chunksizes=(tchunk, ny, nx), fill_value=np.float32(1e20))
t[:] = np.arange(nt) * 365 / 12.0 + 15
yy, xx = np.meshgrid(lat, lon, indexing='ij')
base = (273 + 30 * np.cos(np.radians(yy)) + 0.01 * xx).astype(np.float32)
for s in range(0, nt, tchunk):
    block = np.empty((tchunk, ny, nx), np.float32)
    for k in range(tchunk):
        m = s + k
        f = base + np.float32(10 * np.sin(2 * np.pi * m / 12) + m * 0.001)
        keep = land
        if mask_kind == 'seasonal':
            summer_north = (m % 12) in (5, 6, 7)
            keep = land | ((np.abs(yy) > 60) & ((yy > 0) == summer_north))
        block[k] = np.where(keep, f, np.float32(1e20))
    v[s:s + tchunk] = block
ds.close()
EOF
}

gen "$tmp/const.nc" const 1
gen "$tmp/seasonal.nc" seasonal 1
gen "$tmp/chunk12.nc" const 12
sync "$tmp"/*.nc
cat "$tmp"/*.nc >/dev/null

source bench/lib.sh

: >"$tmp/results"
for ((i = 0; i < reps; ++i)); do
  for f in const seasonal chunk12; do
    bench_run "import_$f" "$import" "$tmp/$f.nc" -o "$tmp/out.bin"
    bench_run "cdo_copy_$f" cdo -s -f nc copy "$tmp/$f.nc" "$tmp/copy.nc"
  done
done
"$import" "$tmp/seasonal.nc" -o "$tmp/out.bin" | head -n 1

awk "$bench_awk_stats"'
  END {
    printf "%-20s %10s %10s %10s\n", "run", "median_s", "best_s", "peak_MB"
    n = split("const seasonal chunk12", f, " ")
    for (i = 1; i <= n; ++i)
      for (k = 1; k <= 2; ++k) {
        name = (k == 1 ? "import_" : "cdo_copy_") f[i]
        printf "%-20s %10.2f %10.2f %10.0f\n", name, median(t[name]) / 1e6, best(t[name]) / 1e6,
          m[name] / 1024
      }
  }' "$tmp/results"
