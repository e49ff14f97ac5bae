#!/usr/bin/env bash
# The main job on sample data: multi-variable change between a reference and a future period.
#   scripts/demo.sh [BUILD_DIR]     (default: build; `make demo` builds first)
# The sample (three monthly variables for 1971-2000 and 2071-2100 on the 0.5 degree land grid,
# and natural-vegetation fractions) is generated once and kept in BUILD_DIR/demo/sample.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bin="$build/bin"
benchbin="$build/bench"
for exe in "$bin/corvane" "$bin/rastertools-export" "$bin/rastertools-map" "$benchbin/rastergen" "$build/demo/bin/rastersummary"; do
  [[ -x "$exe" ]] || { echo "missing $exe: build first (make)" >&2; exit 1; }
done

grid=data/grid_0.5deg_centre.bin
npixel=$(($(stat -c %s "$grid") / 4))
sample="$build/demo/sample"
out="$build/demo/out"
years=30
# Years count from 1901 in the generator's trend: the reference period starts in year 70
# (1971), the future one in year 170 (2071).
recipe="grid=$grid npixel=$npixel years=$years bands=12 ref=70 fut=170 v2"

if [[ ! -f "$sample/recipe" || "$(cat "$sample/recipe")" != "$recipe" ]]; then
  echo "Generating the sample data once (about 530 MB) in $sample ..."
  rm -rf "$sample"
  mkdir -p "$sample"
  seed=1
  # Temperature in kelvin, as models write it.
  for var in tas:seasonal:273.15 pr:precip:0 npp:npp:0; do
    IFS=: read -r name kind offset <<<"$var"
    "$benchbin/rastergen" "$sample/${name}_1971-2000.bin" "$npixel" 12 "$years" "$kind" \
      --grid "$grid" --seed $seed --firstyear 70 --offset "$offset"
    "$benchbin/rastergen" "$sample/${name}_2071-2100.bin" "$npixel" 12 "$years" "$kind" \
      --grid "$grid" --seed $((seed + 1)) --firstyear 170 --offset "$offset"
    seed=$((seed + 2))
  done
  "$benchbin/rastergen" "$sample/natveg_fraction.bin" "$npixel" 1 1 frac --grid "$grid" --seed 7
  echo "$recipe" >"$sample/recipe"
fi

mkdir -p "$out"
names=(angle magnitude angle_series magnitude_series angle_global magnitude_global
  angle_series_global magnitude_series_global)
outputs=()
for n in "${names[@]}"; do outputs+=("$out/$n.bin"); done
args=(3 0 1 "$sample/natveg_fraction.bin" "$years" "$years" "$years" 0 0 "$grid" 0.5
  2 "$sample/tas_1971-2000.bin" "$sample/tas_2071-2100.bin"
  1 "$sample/pr_1971-2000.bin" "$sample/pr_2071-2100.bin"
  1 "$sample/npp_1971-2000.bin" "$sample/npp_2071-2100.bin"
  "$npixel" "${outputs[@]}")

echo
echo "Change of temperature (weight 2), precipitation (1) and productivity (1), 30-year"
echo "monthly slices 1971-2000 against 2071-2100, $npixel land pixels:"
echo
echo "\$ $bin/corvane ${args[*]}"
echo
"$bin/corvane" "${args[@]}"
echo
echo "Outputs in $out (band 1 of each; means weighted by the cosine of latitude):"
echo
"$build/demo/bin/rastersummary" "$grid" "$npixel" "${outputs[@]}"

# Sidecars beside the outputs (ENVI headers in the layout import writes): info, export, map,
# GDAL and the Python package (docs/python.md) take the grid and the series' years from them.
write_sidecar() { # NAME BANDS [FIRST_YEAR]
  local name=$1 bands=$2 first=${3:-}
  {
    printf 'ENVI\ndescription = {rastertools raster file}\nsamples = %s\nlines = 1\n' "$npixel"
    printf 'bands = %s\nheader offset = 0\nfile type = ENVI Standard\ndata type = 4\n' "$bands"
    printf 'interleave = bsq\nbyte order = 0\nrastertools grid file = %s\n' \
      "$(realpath -m --relative-to="$out" "$grid")"
    printf 'rastertools resolution = 0.5\nrastertools grid convention = centre\n'
    [[ -z $first ]] || printf 'rastertools bands per year = 1\nrastertools first year = %s\n' "$first"
    printf 'rastertools variable = %s\n' "$name"
  } >"$out/$name.hdr"
}
for n in "${names[@]}"; do
  case $n in
    *series*) write_sidecar "$n" "$years" 1971 ;;
    magnitude*) write_sidecar "$n" 4 ;;
    *) write_sidecar "$n" 1 ;;
  esac
done

# The outputs as NetCDF-4 (CF), for the field's viewers and tools.
echo
echo "NetCDF copies (rastertools export; the series with a time axis of the reference years):"
echo
for n in "${names[@]}"; do
  time_args=()
  [[ $n == *series* ]] && time_args=(--bands-per-year 1 --first-year 1971)
  "$bin/rastertools-export" "$out/$n.bin" --grid "$grid" --res 0.5 "${time_args[@]}" \
    --var "$n" -o "$out/$n.nc" >/dev/null
  echo "  $out/$n.nc"
done
echo "Open them with ncview, Panoply or QGIS (ncview $out/angle_series.nc), or read them with"
echo "cdo, R terra (terra::rast) or GDAL."

# Quick-look maps of the two main outputs.
maps="$build/demo/maps"
mkdir -p "$maps"
echo
echo "Maps (rastertools map; the grid's resolution and convention are inferred):"
echo
"$bin/rastertools-map" "$out/angle.bin" --grid "$grid" -o "$maps/angle.png" \
  --title "Cosine of the angle of change, 1971-2000 to 2071-2100"
"$bin/rastertools-map" "$out/magnitude.bin" --grid "$grid" --band 0 -o "$maps/magnitude.png" \
  --center 100 --units "% of 1971-2000" \
  --title "Length of the future vector, % of the reference"
echo
echo "Maps written:"
echo "  $maps/angle.png"
echo "  $maps/magnitude.png"
