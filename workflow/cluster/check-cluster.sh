#!/usr/bin/env bash
# The example workflow on a one-node Slurm cluster started for the purpose (`make check-cluster`):
#   workflow/cluster/check-cluster.sh [BUILD_DIR]       (as root; default BUILD_DIR: build)
# Starts munged, slurmctld and slurmd configured in a temporary folder for this host only (the
# node's real CPUs and memory, private ports and munge socket), runs the example ensemble locally
# and then through the Slurm profile workflow/profiles/slurm, checks that every job ran as a
# Slurm job (the job completion log) and that both runs gave the same results, and stops the
# daemons again, also when something fails. KEEP=1 keeps the temporary folder (configuration,
# daemon logs, both runs); EXAMPLE_FORMAT=raw gives the example raw future files (read by change as they are).
set -uo pipefail
# Read whole before it runs (an edit during a run must not change the running script).
{
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
rt=$build/bin/rastertools
ext=nc
[[ ${EXAMPLE_FORMAT:-netcdf} == raw ]] && ext=bin
work=$(mktemp -d /tmp/check-cluster.XXXXXX)
passed=0 failed=0
ok() { passed=$((passed + 1)); }
bad() { echo "FAIL: $*"; failed=$((failed + 1)); }
check() { if eval "$2"; then ok; else bad "$1"; fi; }

[[ $(id -u) == 0 ]] || { echo "check-cluster: run as root (it starts munged, slurmctld, slurmd)" >&2; exit 2; }
for exe in munged mungekey slurmctld slurmd sbatch scontrol snakemake; do
  command -v "$exe" >/dev/null || { echo "check-cluster: $exe missing: make deps" >&2; exit 2; }
done
[[ -x $rt ]] || { echo "check-cluster: missing $rt: build first (make)" >&2; exit 2; }

# Cancels this cluster's jobs (so that slurmd ends their steps), then stops the daemons this
# script started, by the pids it recorded, the last started first.
pids=()
stop_daemons() {
  local pid i
  if [[ -n ${SLURM_CONF:-} ]] && ((${#pids[@]} >= 3)); then
    scancel --partition=check 2>/dev/null
    for _ in $(seq 60); do
      [[ -z $(squeue -h -o %i 2>/dev/null) ]] && break
      sleep 0.5
    done
  fi
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
  done
  pids=()
}
cleanup() {
  stop_daemons
  if ((failed)) && [[ -z ${KEEP:-} ]]; then
    echo "daemon logs:"
    tail -n 20 "$work"/*.log 2>/dev/null
  fi
  [[ -n ${KEEP:-} ]] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# 1. munge with its own key and socket.
mkdir -p "$work"/{munge,state,spool}
chmod 700 "$work/munge"
mungekey -c -k "$work/munge/munge.key" || { bad "mungekey"; exit 1; }
munged -f --key-file="$work/munge/munge.key" --socket="$work/munge/socket" \
  --pid-file="$work/munge/munged.pid" --log-file="$work/munged.log" \
  --seed-file="$work/munge/seed" || { bad "munged did not start"; exit 1; }
pids+=("$(cat "$work/munge/munged.pid")")

# 2. Slurm for this host only: the node as slurmd -C finds it, ports apart from a real Slurm's.
node=$(slurmd -C | head -1)
name=$(sed 's/^NodeName=\([^ ]*\).*/\1/' <<<"$node")
cpus=$(sed 's/.* CPUs=\([0-9]*\).*/\1/' <<<"$node")
export SLURM_CONF=$work/slurm.conf
cat >"$SLURM_CONF" <<EOF
ClusterName=checkcluster
SlurmctldHost=$name(127.0.0.1)
SlurmctldPort=16817
SlurmdPort=16818
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$work/munge/socket
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/affinity
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
MpiDefault=none
ReturnToService=2
SchedulerType=sched/backfill
SchedulerParameters=sched_interval=1
MinJobAge=600
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
JobCompType=jobcomp/filetxt
JobCompLoc=$work/jobcomp.txt
$node NodeAddr=127.0.0.1 State=UNKNOWN
PartitionName=check Nodes=$name Default=YES MaxTime=INFINITE State=UP
EOF
slurmctld -f "$SLURM_CONF" || { bad "slurmctld did not start"; exit 1; }
for _ in $(seq 50); do [[ -s $work/slurmctld.pid ]] && break; sleep 0.1; done
pids+=("$(cat "$work/slurmctld.pid")")
slurmd -f "$SLURM_CONF" || { bad "slurmd did not start"; exit 1; }
for _ in $(seq 50); do [[ -s $work/slurmd.pid ]] && break; sleep 0.1; done
pids+=("$(cat "$work/slurmd.pid")")
for _ in $(seq 100); do
  sinfo -h -o %t 2>/dev/null | grep -qx idle && break
  sleep 0.2
done
check "the node is idle: $(sinfo 2>&1)" '[[ $(sinfo -h -o %t 2>/dev/null) == idle ]]'
((failed)) && exit 1
echo "one-node Slurm up: $node"

# 3. The example ensemble, its configuration pointed at this build and this folder.
"$root/workflow/scripts/example-data.sh" "$build" "$work/input" >"$work/data.log" 2>&1 ||
  { cat "$work/data.log"; bad "example-data.sh"; exit 1; }
configure() {
  sed -e "s#^rastertools: .*#rastertools: $rt#" -e "s#^outdir: .*#outdir: $1#" \
    -e "s#^grid: .*#grid: $root/data/grid_2deg_northedge.bin#" \
    -e "s#build/workflow-example/input#$work/input#" -e "s#{variable}\.nc#{variable}.$ext#" \
    "$root/workflow/config/example.yaml"
}
configure "$work/local" >"$work/local.yaml"
configure "$work/slurm" >"$work/slurm.yaml"

start=$(date +%s)
snakemake -s "$root/workflow/Snakefile" -d "$work/run-local" --configfile "$work/local.yaml" \
  --cores "$cpus" >"$work/local-run.log" 2>&1
st=$?
check "local run: status $st: $(tail -20 "$work/local-run.log")" '[[ $st == 0 ]]'
echo "local run: $(($(date +%s) - start)) s"

# 4. The same through the Slurm profile, as a user runs it: the profile with the account left
# empty (this cluster keeps no accounts) and the partition of this cluster.
cp -r "$root/workflow/profiles/slurm" "$work/profile"
sed -i -e 's/^  - slurm_account=.*/  - slurm_account=""/' \
  -e 's/^  - slurm_partition=.*/  - slurm_partition="check"/' "$work/profile/config.yaml"
start=$(date +%s)
USER=${USER:-root} timeout -s INT -k 60 1800 snakemake -s "$root/workflow/Snakefile" -d "$work/run-slurm" \
  --configfile "$work/slurm.yaml" --profile "$work/profile" --max-status-checks-per-second 1 >"$work/slurm-run.log" 2>&1
st=$?
check "Slurm run: status $st: $(tail -20 "$work/slurm-run.log")" '[[ $st == 0 ]]'
echo "Slurm run: $(($(date +%s) - start)) s"

# 5. Every job of the Slurm run was a Slurm job that completed on this node: one line in the job
# completion log per job (named after its rule), and each job's Slurm log shows the rule run by
# snakemake inside the allocation.
# change per run, the series per model, 16 slice and 8 series outputs exported and tabulated,
# the yearly totals per run and their plot.
expected_jobs=$((4 + 2 + 24 + 16 + 24 + 2 + 4 + 1))
submitted=$(grep -c "has been submitted with SLURM jobid" "$work/slurm-run.log")
completed=$(grep -c "JobState=COMPLETED" "$work/jobcomp.txt" 2>/dev/null)
check "Slurm run: $expected_jobs jobs submitted, got $submitted" '[[ $submitted == "$expected_jobs" ]]'
check "job completion log: $completed of $submitted jobs completed" \
  '[[ $completed == "$submitted" && $(wc -l <"$work/jobcomp.txt") == "$submitted" ]]'
check "job completion log: all on node $name" \
  '! grep -v "NodeList=$name " "$work/jobcomp.txt" | grep -q .'
# slurm_jobs RULE: Slurm jobs of RULE in the job completion log.
slurm_jobs() { grep -c "Name=snakejob_$1_[0-9]* " "$work/jobcomp.txt"; }
for rule in change:4 reference_series:2 export_netcdf:24 quicklook_map:16 band_statistics:24 \
  global_means:1 global_means_plot:1; do
  check "Slurm jobs of ${rule%:*}: ${rule#*:} expected, got $(slurm_jobs "${rule%:*}")" \
    '[[ $(slurm_jobs "${rule%:*}") == "${rule#*:}" ]]'
done
check "change's Slurm jobs had 2 CPUs (its threads)" \
  '[[ $(grep "Name=snakejob_change_" "$work/jobcomp.txt" | grep -c " ProcCnt=2 ") == 4 ]]'
slurm_logs=$work/run-slurm/.snakemake/slurm_logs
logs=$(find "$slurm_logs" -name '*.log' | wc -l)
ran=$(cat "$slurm_logs"/rule_*/*.log | grep -c "^rule [a-z_]*:")
check "one Slurm log per job ($logs), each naming the rule it ran ($ran)" \
  '[[ $logs == "$submitted" && $ran == "$submitted" ]]'

# 6. The same results as the local run, byte for byte (the NetCDF files by their data, which
# do not depend on when they were written; the PNG files by their pixels).
same=1
while read -r f; do
  case $f in
    *.nc) cmp -s <(ncdump "$work/local/$f" | grep -v history) \
      <(ncdump "$work/slurm/$f" | grep -v history) || { same=0; echo "differs: $f"; } ;;
    *.png) [[ $(compare -metric AE "$work/local/$f" "$work/slurm/$f" null: 2>&1) == 0 ]] ||
      { same=0; echo "differs: $f"; } ;;
    *) cmp -s "$work/local/$f" "$work/slurm/$f" || { same=0; echo "differs: $f"; } ;;
  esac
done < <(cd "$work/local" && find . -type f ! -path './logs/*')
check "the Slurm run's results equal the local run's" '((same))'
check "the same files in both runs" \
  '[[ $(cd "$work/local" && find . -type f ! -path "./logs/*" | sort) == $(cd "$work/slurm" && find . -type f ! -path "./logs/*" | sort) ]]'

echo "$passed passed, $failed failed"
((failed == 0))
exit
}
