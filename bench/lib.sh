# Shared pieces of the benchmark scripts; source it after setting `tmp` to a scratch folder.

# bench_run NAME CMD...: one timed run of CMD; appends "NAME wall_us peak_kb cpu_us" to
# $tmp/results (cpu: user + system time of all its threads). A run that writes to stderr stops
# the benchmark: its figures would mislead.
bench_run() {
  local name=$1
  shift
  local t0 t1
  t0=$(date +%s%N)
  /usr/bin/time -f '%e %M %U %S' -o "$tmp/time" "$@" >/dev/null 2>"$tmp/err"
  t1=$(date +%s%N)
  if [[ -s "$tmp/err" ]]; then
    echo "$name wrote to stderr:" >&2
    head -3 "$tmp/err" >&2
    exit 1
  fi
  echo "$name $(((t1 - t0) / 1000)) $(awk 'END { printf "%d %d", $2, ($3 + $4) * 1e6 }' "$tmp/time")" \
    >>"$tmp/results"
}

# awk functions over the results: t[name] holds the wall times, u[name] the CPU times,
# m[name] the largest peak; median(s) and best(s) of a space-separated list. Prepend to an awk
# program that reads $tmp/results.
bench_awk_stats='
  { t[$1] = t[$1] " " $2; u[$1] = u[$1] " " $4; if ($3 > m[$1]) m[$1] = $3 }
  function sorted(s, a,   n, i, j, x) {
    n = split(s, a, " ")
    for (i = 2; i <= n; ++i) { x = a[i]; for (j = i - 1; j >= 1 && a[j] > x; --j) a[j + 1] = a[j]; a[j + 1] = x }
    return n
  }
  function median(s,   a, n) {
    n = sorted(s, a)
    return (n % 2) ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
  }
  function best(s,   a) { sorted(s, a); return a[1] }
'

# bench_report_pair A B [NOTE]: the wall seconds (best, median), CPU seconds and peak of runs A
# and B from $tmp/results, and A / B of the medians followed by NOTE; `reps` is the rounds run.
bench_report_pair() {
  echo "wall seconds of $reps warm runs on $(nproc) CPUs (load average at the end:" \
    "$(cut -d' ' -f1-3 /proc/loadavg))"
  awk -v a="$1" -v b="$2" -v note="${3:-}" "$bench_awk_stats"'
    END {
      printf "%-8s %8s %8s %8s %8s\n", "run", "best", "median", "cpu", "peak MB"
      k[1] = a; k[2] = b
      for (j = 1; j <= 2; ++j)
        printf "%-8s %8.2f %8.2f %8.2f %8.1f\n", k[j], best(t[k[j]]) / 1e6, median(t[k[j]]) / 1e6,
          best(u[k[j]]) / 1e6, m[k[j]] / 1024
      printf "%s / %s, medians: %.2f%s\n", a, b, median(t[a]) / median(t[b]), note
    }' "$tmp/results"
}
