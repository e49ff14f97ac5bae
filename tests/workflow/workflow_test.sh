#!/usr/bin/env bash
# The example ensemble workflow on a tiny generated ensemble (the 2 degree grid, 10-year monthly
# files of 2 models x 2 scenarios, of which the configuration takes both models and one scenario:
# every rule and every failure path runs with half the jobs of the whole example) with --cores 2:
#   workflow_test.sh SOURCE_DIR BUILD_DIR
# Checks that every output is made (the series once per model), that the outputs and the table of
# global means equal direct runs of the positional tools, that a second run does nothing, that
# deleting an output recomputes only what depends on it, that a failing job leaves no output
# behind and that configuration errors are clear, among them years that are not the files'.
set -uo pipefail
src=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0
ok() { passed=$((passed + 1)); }
bad() { echo "FAIL: $*"; failed=$((failed + 1)); }
check() { if eval "$2"; then ok; else bad "$1"; fi; }
finish() {
  echo "$passed passed, $failed failed"
  ((failed == 0))
  exit
}

rt=$build/bin/rastertools
grid=$src/data/grid_2deg_northedge.bin
npixel=$(($(stat -c %s "$grid") / 4))
models=(modelA modelB)
scenarios=(ssp585)
variables=(tas pr npp)
weights=(2 1 1)
outputs=(angle magnitude angle_series magnitude_series angle_global magnitude_global
  angle_series_global magnitude_series_global)
slice_outputs=(angle magnitude angle_global magnitude_global)
series_outputs=(angle_series magnitude_series angle_series_global magnitude_series_global)
maps=(angle magnitude angle_global magnitude_global)
# The folder of output $1 of model $2 and scenario $3: the series once per model.
folder() { if [[ $1 == *_series* ]]; then echo "./runs/$2/reference"; else echo "./runs/$2/$3"; fi; }
grid_opts=(--grid "$grid" --res 2 --convention northedge)

command -v snakemake >/dev/null || { bad "snakemake is not installed (make deps)"; finish; }

# The ensemble, and the example configuration pointed at it (everything else as in the example).
if ! "$src/workflow/scripts/example-data.sh" "$build" "$work/input" >"$work/data.log" 2>&1; then
  cat "$work/data.log"
  bad "example-data.sh failed"
  finish
fi
ext=nc
[[ ${EXAMPLE_FORMAT:-netcdf} == raw ]] && ext=bin
sed -e "s#^rastertools: .*#rastertools: $rt#" -e "s#^outdir: .*#outdir: $work/results#" \
  -e "s#^grid: .*#grid: $grid#" -e "s#build/workflow-example/input#$work/input#" \
  -e "s#{variable}\.nc#{variable}.$ext#" -e "s#^scenarios: .*#scenarios: [${scenarios[*]}]#" \
  "$src/workflow/config/example.yaml" >"$work/config.yaml"
res=$work/results

# Runs snakemake on a configuration in a folder of its own; status in $st, all output in $log.
snake() {
  local config=$1
  shift
  snakemake -s "$src/workflow/Snakefile" -d "$work/run" --configfile "$config" --cores 2 "$@" \
    >"$work/snake.log" 2>&1
  st=$?
  log=$(cat "$work/snake.log")
}

# Every result file, one per line.
result_files() { (cd "$res" && find . -type f ! -path './logs/*' | sort); }
# Modification times of the results, to tell what a run rewrote.
stamps() { (cd "$res" && find . -type f ! -path './logs/*' -printf '%p %T@\n' | sort); }
# Job counts of a dry run: "rule count" lines of its job table.
planned_jobs() {
  snake "$work/config.yaml" -n
  awk '/^job +count/ {t = 1; next} t && $2 ~ /^[0-9]+$/ {print $1, $2} t && /^total/ {exit}' \
    <<<"$log" | sort
}

# 1. The first run makes everything.
start=$(date +%s%N)
snake "$work/config.yaml"
ms=$((($(date +%s%N) - start) / 1000000))
check "first run: status $st: $log" '[[ $st == 0 ]]'
echo "first run of the tiny ensemble: $((ms / 1000)).$(printf %03d $((ms % 1000))) s"

expected=("./global_means.csv" "./global_means.png" "./yearly_totals.png")
for m in "${models[@]}"; do
  for s in "${scenarios[@]}"; do expected+=("./totals/$m/$s.csv"); done
  for run in reference "${scenarios[@]}"; do
    kept=("${slice_outputs[@]}")
    [[ $run == reference ]] && kept=("${series_outputs[@]}")
    d=./runs/$m/$run
    expected+=("$d/grid.bin")
    for o in "${kept[@]}"; do
      expected+=("$d/$o.bin" "$d/$o.hdr" "$d/netcdf/$o.nc" "$d/info/$o.csv")
    done
    [[ $run == reference ]] || for o in "${maps[@]}"; do expected+=("$d/maps/$o.png"); done
  done
done
want=$(printf '%s\n' "${expected[@]}" | sort)
got=$(result_files)
check "the results are exactly the expected files: $(diff <(echo "$want") <(echo "$got"))" \
  '[[ $got == "$want" ]]'
for f in "${expected[@]}"; do check "$f is not empty" '[[ -s $res/$f ]]'; done
for f in "$res"/runs/*/*/maps/*.png "$res/global_means.png" "$res/yearly_totals.png"; do
  check "$f is a PNG" '[[ $(head -c 8 "$f" | od -An -tx1 | tr -d " ") == 89504e470d0a1a0a ]]'
done
for panel in angle magnitude angle_global magnitude_global; do
  check "the plot shows $panel of the 2 runs" 'grep -qx "$panel: 2 runs" "$res/logs/global_means_plot.log"'
done
check "the totals plot has a line of 10 years per run" \
  '[[ $(grep -c ": 10 years$" "$res/logs/yearly_totals_plot.log") == $((${#models[@]} * ${#scenarios[@]})) ]]'
# The yearly totals of one run equal yearly and fldstat run by hand on its productivity file.
tot=$work/direct-totals
mkdir -p "$tot"
var_opt=()
[[ $ext == nc ]] && var_opt=(--var npp)
"$rt" yearly "$work/input/modelA/${scenarios[0]}/npp.$ext" "${var_opt[@]}" --stat sum --format raw \
  -o "$tot/sums.bin" >/dev/null 2>&1 && "$rt" fldstat "$tot/sums.bin" --stat sum --weights area \
  --scale 1e-15 --units PgC/yr -o "$tot/totals.csv" >/dev/null 2>&1 || bad "direct yearly totals"
check "the totals table of modelA ${scenarios[0]} equals the direct one (11 lines)" \
  'cmp -s "$tot/totals.csv" "$res/totals/modelA/${scenarios[0]}.csv" && [[ $(wc -l <"$tot/totals.csv") == 11 ]]'
for f in "$res"/runs/*/*/netcdf/*.nc; do check "$f opens in ncdump" 'ncdump -h "$f" >/dev/null 2>&1'; done
for m in "${models[@]}"; do
  for run in reference "${scenarios[@]}"; do
    check "change log of $m $run: the parameters' table" \
      'grep -q "^npp  *0.250000 " "$res/logs/change/${m}_$run.log"'
  done
done
check "the series carry the reference years" \
  '[[ $(cdo -s showyear "$res/runs/modelA/reference/netcdf/angle_series.nc" | tr -s " ") == " 1971 1972 1973 1974 1975 1976 1977 1978 1979 1980" ]]'

# 2. The same by hand for one model: import, corvane and info run directly; the outputs (the
# series of each scenario's corvane run equal the model's one) and the table's means must be the
# same.
mkdir -p "$work/direct"
: >"$work/direct/means.csv"
for m in modelA; do
  for s in "${scenarios[@]}"; do
    d=$work/direct/$m/$s
    mkdir -p "$d"
    args=(3 0 0 10 10 5 5 0 "$grid" 2)
    for i in "${!variables[@]}"; do
      v=${variables[i]}
      fut=$work/input/$m/$s/$v.bin
      if [[ $ext == nc ]]; then
        fut=$d/$v.future.bin
        "$rt" import "$work/input/$m/$s/$v.nc" -o "$fut" --var "$v" "${grid_opts[@]}" >/dev/null 2>&1 ||
          bad "direct import of $m $s $v"
      fi
      args+=("${weights[i]}" "$work/input/$m/historical/$v.bin" "$fut")
    done
    args+=("$npixel")
    for o in "${outputs[@]}"; do args+=("$d/$o.bin"); done
    "$rt" corvane "${args[@]}" >"$d/corvane.log" 2>&1 || bad "direct corvane of $m $s"
    for o in "${outputs[@]}"; do
      f=$(folder "$o" "$m" "$s")
      check "$m $s $o.bin equals the direct corvane output" 'cmp -s "$d/$o.bin" "$res/$f/$o.bin"'
      # The table has each series once per model.
      [[ $o == *_series* && $s != "${scenarios[0]}" ]] && continue
      "$rt" info "$d/$o.bin" --npixel "$npixel" "${grid_opts[@]}" --csv >"$d/$o.csv" 2>/dev/null ||
        bad "direct info of $m $s $o"
      # band and area_mean, by the header's names when there is a header.
      awk -F, -v pre="$m,$(basename "$f"),$o" 'NR == 1 && /area_mean/ {for (i = 1; i <= NF; i++) c[$i] = i; next}
        {b = c["band"] ? c["band"] : 1; a = c["area_mean"] ? c["area_mean"] : 7; print pre "," $b "," $a}' \
        "$d/$o.csv" >>"$work/direct/means.csv"
    done
  done
done
table=$(tail -n +2 "$res/global_means.csv" | sort)
direct=$(sort "$work/direct/means.csv")
table_a=$(grep '^modelA,' <<<"$table")
check "global_means.csv header" '[[ $(head -1 "$res/global_means.csv") == model,scenario,output,band,area_mean ]]'
# 2 runs x (1 + 4) slice bands and 2 models x (10 + 10) series bands, x 2 normalisations.
check "global_means.csv has 100 rows, got $(wc -l <<<"$table")" '[[ $(wc -l <<<"$table") == 100 ]]'
check "every global mean is a number" \
  '! awk -F, '"'"'$5 !~ /^-?[0-9][0-9.e+-]*$/ {bad = 1} END {exit !bad}'"'"' <<<"$table"'
check "the table's means equal direct runs: $(diff <(echo "$direct") <(echo "$table_a") | head -5)" \
  '[[ -n $table_a && $table_a == "$direct" ]]'

# 3. A second run has nothing to do and touches nothing.
before=$(stamps)
snake "$work/config.yaml" -n
check "dry run after the first run: nothing to do: $log" '[[ $st == 0 && $log == *"Nothing to be done"* ]]'
snake "$work/config.yaml"
check "second run: status $st" '[[ $st == 0 ]]'
check "second run rewrote nothing" '[[ $(stamps) == "$before" ]]'

# 4. Deleting one output recomputes only what depends on it.
#    A table of one output of one run: that table, the global table and its plot.
rm "$res/runs/modelB/ssp585/info/magnitude.csv"
plan=$(planned_jobs)
check "plan after deleting one info table: [$plan]" \
  '[[ $plan == $'"'"'all 1\nband_statistics 1\nglobal_means 1\nglobal_means_plot 1\ntotal 4'"'"' ]]'
#    And one series: the model's reference run and everything made from its outputs, once.
rm "$res/runs/modelA/reference/angle_series.bin"
plan=$(planned_jobs)
check "plan after deleting one series: [$plan]" \
  '[[ $plan == $'"'"'all 1\nband_statistics 5\nexport_netcdf 4\nglobal_means 1\nglobal_means_plot 1\nreference_series 1\ntotal 13'"'"' ]]'
before=$(stamps)
snake "$work/config.yaml"
check "run after deleting: status $st" '[[ $st == 0 ]]'
after=$(stamps)
changed=$(diff <(echo "$before") <(echo "$after") | awk '/^>/ {print $2}' | sort)
want_changed=$( (
  for o in "${series_outputs[@]}"; do
    d=./runs/modelA/reference
    printf '%s\n' "$d/$o.bin" "$d/$o.hdr" "$d/netcdf/$o.nc" "$d/info/$o.csv"
  done
  echo ./runs/modelA/reference/grid.bin ./runs/modelB/ssp585/info/magnitude.csv \
    ./global_means.csv ./global_means.png | tr ' ' '\n'
) | sort)
check "only the dependent files were rewritten: $(diff <(echo "$want_changed") <(echo "$changed"))" \
  '[[ $changed == "$want_changed" ]]'
check "the table is the same after the rerun" \
  '[[ $(tail -n +2 "$res/global_means.csv" | sort) == "$table" ]]'
check "the rewritten output is the same" 'cmp -s "$res/runs/modelA/reference/angle_series.bin" "$work/direct/modelA/ssp585/angle_series.bin"'

# 5. A job that fails half-way leaves no output under its name: a front command that writes
# part of the table of statistics and then fails.
fake=$work/failing-rastertools
cat >"$fake" <<EOF
#!/usr/bin/env bash
if [[ \$1 == info ]]; then echo band,year; echo "cut short" >&2; exit 1; fi
exec "$rt" "\$@"
EOF
chmod +x "$fake"
sed -e "s#^rastertools: .*#rastertools: $fake#" "$work/config.yaml" >"$work/failing.yaml"
rm "$res/runs/modelA/ssp585/info/angle.csv"
snake "$work/failing.yaml" "$res/runs/modelA/ssp585/info/angle.csv" --rerun-triggers mtime
check "failing job: status $st" '[[ $st != 0 ]]'
check "failing job: the half-written table is removed" '[[ ! -e $res/runs/modelA/ssp585/info/angle.csv ]]'
check "failing job: its log keeps the message" 'grep -q "cut short" "$res/logs/info/modelA_ssp585_angle.log"'
check "failing job: snakemake names the rule and the log: $log" \
  '[[ $log == *"Error in rule band_statistics"* && $log == *"modelA_ssp585_angle.log"* ]]'
snake "$work/config.yaml"
check "the next run completes: status $st" '[[ $st == 0 && -s $res/runs/modelA/ssp585/info/angle.csv ]]'

# 6. Configuration errors: a clear message naming the key, non-zero status, nothing made.
# bad_config NAME EXPECTED_MESSAGE SED_EXPRESSION
bad_config() {
  local name=$1 want=$2
  sed -e "$3" "$work/config.yaml" >"$work/bad.yaml"
  rm -rf "$work/run/.snakemake"
  sed -i "s#^outdir: .*#outdir: $work/bad-results#" "$work/bad.yaml"
  snake "$work/bad.yaml" -n
  check "$name: status $st" '[[ $st != 0 ]]'
  check "$name: message [$want] in: $log" '[[ $log == *"$want"* ]]'
  check "$name: the message, not the schema: $log" \
    '[[ $log != *"Failed validating"* && $log != *"On instance"* && $log != *"\$defs"* ]]'
  check "$name: nothing made" '[[ ! -e $work/bad-results ]]'
}
bad_config "misspelt key" \
  "configuration error: top level: Additional properties are not allowed ('scenarois' was unexpected)" \
  's/^scenarios:/scenarois:/'
bad_config "negative weight" "configuration error: variables[1].weight: -1 is less than or equal to the minimum of 0" \
  's/{name: pr, weight: 1}/{name: pr, weight: -1}/'
bad_config "pattern without {model}" \
  "configuration error: reference.files: '$work/input/historical/{variable}.bin' must contain {model} and {variable}" \
  's#/{model}/historical/#/historical/#'
bad_config "future pattern without {scenario}" \
  "configuration error: future.files: '$work/input/{model}/{variable}.$ext' must contain {scenario}" \
  's#/{model}/{scenario}/#/{model}/#'
bad_config "unknown map" "configuration error: maps[1]: 'magnitdue' is not one of" \
  's/^maps: \[angle, magnitude,/maps: [angle, magnitdue,/'
bad_config "slice outside the files" \
  "configuration error: future: a slice of 5 years from 2079 does not fit into the files' years 2071-2080" \
  's/slice_start: 2071/slice_start: 2079/'
bad_config "missing grid" "configuration error: grid: cannot read $work/nogrid.bin" \
  "s#^grid: .*#grid: $work/nogrid.bin#"
# Years that are not the files': refused before anything runs, naming the file and its years.
bad_config "wrong reference first_year" \
  "configuration error: reference.first_year: 1973, but $work/input/modelA/historical/tas.bin holds the years 1971-1980" \
  's/first_year: 1971/first_year: 1973/'
bad_config "wrong future first_year" \
  "configuration error: future.first_year: 2070, but $work/input/modelA/ssp585/tas.$ext holds the years 2071-2080" \
  's/first_year: 2071/first_year: 2070/'
bad_config "wrong number of years" \
  "configuration error: reference.years: 9 (1971-1979), but $work/input/modelA/historical/tas.bin holds 10 years (1971-1980)" \
  '0,/  years: 10/s//  years: 9/'

finish
