#!/bin/bash
# Boots a one-node SLURM cluster of its own (munged, slurmctld, slurmd, all
# in a temporary directory), runs a grid through examples/slurm/ as a job
# array of four parts with the merge after it, and compares the merged
# files with one tilvex-grid run over the whole list. Stops the daemons it
# started.
#
#   cluster_test.sh TILVEX_GRID TILVEX_GENERATE EXAMPLES_DIR
#
# Exit 77 (skipped) where it cannot run, outside CI; in CI (CI=true) that
# is a failure.
set -u
grid=$(realpath "$1") generate=$(realpath "$2") examples=$(realpath "$3")

skip() {
  if [ "${CI:-}" = true ]; then
    echo "cluster test cannot run in CI: $1" >&2
    exit 1
  fi
  echo "cluster test skipped: $1" >&2
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "it must run as root (slurmd, SlurmUser=root)"
for p in munged slurmctld slurmd sbatch; do
  command -v "$p" >/dev/null 2>&1 || PATH=$PATH:/usr/sbin command -v "$p" >/dev/null 2>&1 ||
    skip "$p is missing (Debian packages munge, slurmctld, slurmd, slurm-client)"
done
export PATH=$PATH:/usr/sbin
[ -r /etc/munge/munge.key ] || mungekey --create >/dev/null 2>&1 ||
  skip "no munge key in /etc/munge/munge.key"

work=$(mktemp -d)
chmod 755 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "cluster test failed: $1" >&2
  for log in "$work"/*.log "$work"/run/parts/*.log "$work"/run/merge.log; do
    [ -f "$log" ] && { echo "== $log" >&2; tail -n 20 "$log" >&2; }
  done
  exit 1
}

# A port nobody listens on, from a range of its own.
free_port() {
  local port
  for port in $(seq "$1" $(($1 + 200))); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
  done
}

mkdir -p "$work/munge" "$work/state" "$work/spool" "$work/run"
chmod 711 "$work/munge"
munged --socket="$work/munge/socket" --pid-file="$work/munge/pid" \
  --log-file="$work/munge.log" --seed-file="$work/munge/seed" --force ||
  fail "munged did not start"
for _ in $(seq 50); do [ -s "$work/munge/pid" ] && break; sleep 0.1; done
pids+=("$(cat "$work/munge/pid")")

ctld_port=$(free_port 16817)
slurmd_port=$(free_port $((ctld_port + 1)))
host=$(hostname -s)
cat >"$work/slurm.conf" <<CONF
ClusterName=tilvextest
SlurmctldHost=$host
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$work/munge/socket
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
MpiDefault=none
JobCompType=jobcomp/none
AccountingStorageType=accounting_storage/none
NodeName=$host CPUs=$(nproc) State=UNKNOWN
PartitionName=debug Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF=$work/slurm.conf
slurmctld -D -f "$SLURM_CONF" >"$work/slurmctld.out" 2>&1 &
pids+=($!)
slurmd -D -f "$SLURM_CONF" >"$work/slurmd.out" 2>&1 &
pids+=($!)
ready=""
for _ in $(seq 150); do
  if sinfo -h -o %t 2>/dev/null | grep -q -E '^(idle|mix|alloc)'; then ready=yes; break; fi
  sleep 0.2
done
[ -n "$ready" ] || fail "the cluster did not come up"

# A grid of 24 points with a missing input, split into four parts.
cd "$work/run"
for i in 1 2 3; do "$generate" $((400 * i)) "$i" >"p$i.vrin"; done
for i in $(seq 0 23); do
  if [ "$i" -eq 9 ]; then echo "missing.vrin $i 0 0 0"; else echo "p$((i % 3 + 1)).vrin $i 1 0 0"; fi
done >grid.txt
export TILVEX_GRID=$grid
job=$("$examples/slurm/submit.sh" grid.txt 95 4 | tail -n 1) || fail "sbatch refused the jobs"
# Wait for the merge job to leave the queue.
for _ in $(seq 600); do
  squeue -h -j "$job" 2>/dev/null | grep -q . || break
  sleep 0.2
done
[ -f table.tsv ] || fail "the merge did not run"

"$grid" grid.txt whole-summary.txt 95 whole-accepted.txt --table whole-table.tsv --quiet >/dev/null 2>&1
for pair in "summary.txt whole-summary.txt" "accepted.txt whole-accepted.txt" \
  "table.tsv whole-table.tsv"; do
  set -- $pair
  cmp -s "$1" "$2" || fail "$1 differs from one run over the whole list"
done
# A part that did not finish is not merged.
sed -i '$d' parts/summary-2.txt.tilvex-grid
if "$examples/slurm/merge.sh" parts 4 s.txt a.txt t.tsv 2>/dev/null; then
  fail "merged an unfinished part"
fi
echo "cluster test: 4 array tasks and the merge equal one run over the whole list"
