#!/bin/bash
# Boots a one-node SLURM cluster of its own (munged, slurmctld, slurmd, all
# in a temporary directory) and runs a grid through examples/slurm/ with
# the commands of the README's recipe: a job array of four parts with the
# merge after it, two tasks cancelled (one stopped half-way, one before it
# started), the merge refusing and naming the command that reruns them,
# that command (the README's), and the merge after it compared byte for
# byte with one tilvex-grid run over the whole list. Then the refusals: a
# merge over existing results, more parts than points, a task without
# PARTS. Stops the daemons it started.
#
#   cluster_test.sh TILVEX_GRID TILVEX_GENERATE EXAMPLES_DIR
#
# Exit 77 (skipped) where it cannot run, outside CI; in CI (CI=true) that
# is a failure.
set -u
grid=$(realpath "$1") generate=$(realpath "$2") examples=$(realpath "$3")
readme=$(dirname "$examples")/README.md

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
  for log in "$work"/*.log "$work"/run/parts/*.log "$work"/run/merge-*.log; do
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
# One CPU: one task at a time, in the order of their numbers.
NodeName=$host CPUs=1 State=UNKNOWN
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


# Waits, a bounded while, for a job to leave the queue.
wait_gone() {
  for _ in $(seq 600); do
    squeue -h -j "$1" 2>/dev/null | grep -q . || return 0
    sleep 0.2
  done
  fail "job $1 did not end"
}

# The README's recipe: the submission and the rerun of tasks 0 and 1, run
# here as written there, with the programs of this build.
recipe() {
  grep -E "^$1" "$readme" | sed -e "s|\\\$PWD/build/tilvex-grid|$grid|" -e "s|examples/slurm/|$examples/slurm/|"
}
submit_cmd=$(recipe 'TILVEX_GRID=\$PWD/build/tilvex-grid examples/slurm/submit\.sh ')
rerun_cmd=$(recipe 'RESUME=1 TASKS=0,1 TILVEX_GRID=\$PWD/build/tilvex-grid examples/slurm/submit\.sh ')
[ "$(wc -l <<<"$submit_cmd")" -eq 1 ] && [ "$(wc -l <<<"$rerun_cmd")" -eq 1 ] ||
  fail "the README does not hold the submission and the rerun, one line each"
# The merge's refusal as the README quotes it, with this build's paths.
readme_refusal=$(grep -E '^merge\.sh: parts 0 1 of 4 not finished' "$readme" |
  sed -e "s|/home/me/tilvex/build/tilvex-grid|$grid|" -e "s|/home/me/tilvex/examples/|$examples/|")

# A grid of 24 points with a missing input (point 9, part 1), split into
# four parts of six. Point 2 reads a named pipe: part 0 appends points 0
# and 1, then waits there; on one CPU parts 1 to 3 wait in the queue.
cd "$work/run" || fail "no folder to run in"
for i in 1 2 3; do "$generate" $((400 * i)) "$i" >"p$i.vrin"; done
mkfifo pipe.vrin
for i in $(seq 0 23); do
  case $i in
    2) echo "pipe.vrin $i 1 0 0" ;;
    9) echo "missing.vrin $i 0 0 0" ;;
    *) echo "p$((i % 3 + 1)).vrin $i 1 0 0" ;;
  esac
done >grid.txt

out=$(bash -c "$submit_cmd") || fail "sbatch refused the jobs: $out"
job=$(sed -n 's/^array job \([0-9]*\): tasks 0-3 of 4 parts, .*/\1/p' <<<"$out")
merge=$(sed -n 's/^merge job \([0-9]*\): .*/\1/p' <<<"$out")
[ -n "$job" ] && [ -n "$merge" ] || fail "submit.sh did not print the jobs' ids: $out"
[ "$(tail -n 1 <<<"$out")" = "rerun unfinished tasks: RESUME=1 TILVEX_GRID=$grid $examples/slurm/submit.sh grid.txt 95 4" ] ||
  fail "submit.sh did not print the rerun: $out"

# Task 0 stopped half-way (its record: the header and two points), task 1
# cancelled before it started.
for _ in $(seq 600); do
  [ -f parts/summary-0.txt.tilvex-grid ] && [ "$(wc -l <parts/summary-0.txt.tilvex-grid)" -ge 3 ] && break
  sleep 0.2
done
[ "$(wc -l <parts/summary-0.txt.tilvex-grid)" -eq 3 ] || fail "part 0 did not stop at its pipe"
[ "$(squeue -h -r -j "${job}_1" -o %T)" = PENDING ] || fail "task 1 is not waiting"
scancel "${job}_0" "${job}_1" || fail "scancel refused"
wait_gone "$merge"
grep -q -x "tilvex-grid: stopped by signal 15 (.*) with 2 of 6 points appended" "parts/part-${job}_0.log" ||
  fail "task 0 did not say where it stopped"
[ ! -e parts/summary-1.txt.tilvex-grid ] || fail "task 1 started"
[ ! -e summary.txt ] && [ ! -e accepted.txt ] && [ ! -e table.tsv ] || fail "merged unfinished parts"
refusal="merge.sh: parts 0 1 of 4 not finished; nothing merged; rerun them, with a merge after: $rerun_cmd"
[ "$(tail -n 1 "merge-$merge.log")" = "$refusal" ] || fail "the merge did not name the rerun: $(cat "merge-$merge.log")"
[ "$readme_refusal" = "$refusal" ] || fail "the README quotes another refusal: $readme_refusal"

# The rerun of tasks 0 and 1 only, the pipe now a file, and its merge.
rm pipe.vrin
"$generate" 800 7 >pipe.vrin
out=$(bash -c "$rerun_cmd") || fail "sbatch refused the rerun: $out"
job2=$(sed -n 's/^array job \([0-9]*\): tasks 0,1 of 4 parts, .*/\1/p' <<<"$out")
merge2=$(sed -n 's/^merge job \([0-9]*\): .*/\1/p' <<<"$out")
[ -n "$job2" ] && [ -n "$merge2" ] || fail "the rerun did not print the jobs' ids: $out"
wait_gone "$merge2"
[ "$(tail -n 1 "merge-$merge2.log")" = "merge.sh: 4 parts merged into summary.txt, accepted.txt and table.tsv" ] ||
  fail "the merge after the rerun did not merge"
grep -q -x "grid.sbatch: part 1 has no record yet: it starts from its first point" "parts/part-${job2}_1.log" ||
  fail "task 1 did not start anew"
grep -q "stopped by signal 15" "parts/part-${job}_0.log" || fail "the rerun lost the first attempt's log"

"$grid" grid.txt whole-summary.txt 95 whole-accepted.txt --table whole-table.tsv --quiet >/dev/null 2>&1
same_as_whole() {
  for name in summary.txt accepted.txt table.tsv; do
    cmp -s "$name" "whole-$name" || fail "$name differs from one run over the whole list ($1)"
  done
}
same_as_whole "after the rerun of tasks 0 and 1"
[ "$(wc -l <summary.txt)" -eq 23 ] || fail "the merged summary does not hold 23 points"

# Refusals. A merge over existing results replaces nothing.
if "$examples/slurm/merge.sh" parts 4 summary.txt accepted2.txt table2.tsv 2>err; then
  fail "merged over an existing summary.txt"
fi
[ "$(cat err)" = "merge.sh: 'summary.txt' exists; nothing merged (it is never replaced: move it away and merge again)" ] ||
  fail "the merge over summary.txt said: $(cat err)"
[ ! -e accepted2.txt ] && [ ! -e table2.tsv ] || fail "a refused merge wrote a file"
same_as_whole "after a refused merge"
# A part that did not finish is not merged, by hand either.
sed -i '$d' parts/summary-2.txt.tilvex-grid
if (unset GRID_SUBMIT; "$examples/slurm/merge.sh" parts 4 s.txt a.txt t.tsv 2>err); then
  fail "merged an unfinished part"
fi
[ "$(cat err)" = "merge.sh: parts 2 of 4 not finished; nothing merged; rerun them with RESUME=1 TASKS=2 before submit.sh and its arguments as first submitted" ] ||
  fail "the merge by hand said: $(cat err)"
# More parts than points, submitted by nobody.
if "$examples/slurm/submit.sh" grid.txt 95 25 >out 2>err; then fail "submitted 25 parts of 24 points"; fi
[ "$(cat err)" = "submit.sh: 'grid.txt' has 24 points: it cannot be cut into 25 parts (at most 24)" ] ||
  fail "submit.sh said: $(cat err)"
[ -z "$(squeue -h)" ] || fail "a refused submission left a job"
# A task without PARTS (submitted by hand, as before) runs nothing.
if env -u PARTS SLURM_ARRAY_TASK_ID=0 GRID_LIST=grid.txt LEVEL=95 PARTS_DIR=new \
  bash "$examples/slurm/grid.sbatch" 2>err; then
  fail "a task ran without PARTS"
fi
grep -q -x "grid.sbatch: PARTS is not set: .*" err && [ ! -e new ] || fail "a task without PARTS said: $(cat err)"
echo "cluster test: tasks 0 and 1 cancelled, rerun alone, and the merge equals one run over the whole list"
