#!/usr/bin/env bash
# The main job on sample data: multi-variable change between a reference and a future period.
#   scripts/demo.sh [BUILD_DIR]     (default: build; `make demo` builds first)
# The sample (three monthly variables for 1971-2000 and 2071-2100 on the 0.5 degree land grid,
# and natural-vegetation fractions; smooth fields made by demo/samplegen.cpp) is generated once
# and kept in BUILD_DIR/demo/sample.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bin="$build/bin"
demobin="$build/demo/bin"
for exe in "$bin/corvane" "$bin/rastertools-export" "$bin/rastertools-map" "$demobin/samplegen" "$demobin/rastersummary"; do
  [[ -x "$exe" ]] || { echo "missing $exe: build first (make demo)" >&2; exit 1; }
done

grid=data/grid_0.5deg_centre.bin
npixel=$(($(stat -c %s "$grid") / 4))
sample="$build/demo/sample"
out="$build/demo/out"
years=30
# The generator's version and arguments: the sample is made again when either changes.
recipe="samplegen $(cksum <"$demobin/samplegen" | cut -d' ' -f1) grid=$grid res=0.5 years=$years seed=1"

if [[ ! -f "$sample/recipe" || "$(cat "$sample/recipe")" != "$recipe" ]]; then
  echo "Generating the sample data once (about 530 MB) in $sample ..."
  rm -rf "$sample"
  mkdir -p "$sample"
  "$demobin/samplegen" "$grid" 0.5 "$sample" --years "$years" --seed 1
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
"$demobin/rastersummary" "$grid" "$npixel" "${outputs[@]}"

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
echo "Open them with Panoply or QGIS, or read them with"
echo "cdo, R terra (terra::rast) or GDAL."

# Quick-look maps of the two main outputs.
maps="$build/demo/maps"
mkdir -p "$maps"
echo
echo "Maps (rastertools map; the grid's resolution and convention are inferred):"
echo
"$bin/rastertools-map" "$out/angle.bin" --grid "$grid" -o "$maps/angle.png" \
  --title "Cosine of the angle of change, 1971-2000 to 2071-2100"
# A sequential scale: the magnitudes lie almost all above 100 %.
"$bin/rastertools-map" "$out/magnitude.bin" --grid "$grid" --band 0 -o "$maps/magnitude.png" \
  --units "% of 1971-2000" \
  --title "Length of the future vector, % of the reference"
echo
echo "Maps written:"
echo "  $maps/angle.png"
echo "  $maps/magnitude.png"
