#!/bin/bash
# Submits a grid as a SLURM job array of N parts and the merge after it,
# from the folder the results go to: parts/ receives each part's files and
# each task's log, the merge writes summary.txt, accepted.txt and table.tsv
# (and merge-JOB.log).
#
#   submit.sh GRID_LIST LEVEL N [sbatch options ...]
#
# N, the number of parts, is fixed here for the whole grid (exported to
# every task as PARTS) and may not exceed the list's points. Prints the
# array job's id, the merge job's id and the command that reruns the
# tasks that do not finish.
#
# Settings, from the environment:
#   TASKS        only these tasks, as sbatch --array takes them (0,1 or
#                2-3; default 0 to N-1)
#   RESUME=1     each part goes on from where its files end
#   TILVEX_GRID  the program (default: tilvex-grid on PATH)
#
# The merge waits for every task to end, whatever its status ("afterany":
# status 1, some points failed, is a normal outcome), then merges only if
# every part finished (merge.sh checks each part's record).
#
# Rerunning: a task stopped by its time limit, cancelled or killed leaves
# its part unfinished, and the merge names it, merges nothing and prints
# the command that reruns it. That command, from the same folder, submits
# only those tasks again, each going on from where its part ends, and a
# merge after them; for tasks 0 and 1 of a grid submitted as above:
#
#   RESUME=1 TASKS=0,1 submit.sh GRID_LIST LEVEL N [sbatch options ...]
#
# Without TASKS, RESUME=1 reruns every task: a part that finished adds
# nothing. Each attempt keeps its log: parts/part-ARRAYJOB_TASK.log.
set -eu
refuse() {
  echo "submit.sh: $1" >&2
  exit 2
}
[ $# -ge 3 ] || { echo "usage: submit.sh GRID_LIST LEVEL N [sbatch options ...]" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
grid_list=$1 level=$2 n=$3
shift 3

[ "$grid_list" != - ] || refuse "the list must be a file: the tasks cannot read this standard input"
[ -f "$grid_list" ] && [ -r "$grid_list" ] || refuse "cannot read the list '$grid_list'"
# The points, as tilvex-grid counts them: blank lines and comments aside
# (blanks: space, \t, \v, \f, \r).
points=$(awk '{ gsub(/[ \t\v\f\r]+/, " "); sub(/^ /, "") } $0 != "" && substr($0, 1, 1) != "#"' "$grid_list" | wc -l)
case $n in
  "" | *[!0-9]* | 0*) refuse "N, the number of parts, must be a whole number from 1, not '$n'" ;;
esac
[ "$points" -gt 0 ] || refuse "'$grid_list' has no points"
[ "$n" -le "$points" ] ||
  refuse "'$grid_list' has $points points: it cannot be cut into $n parts (at most $points)"

tasks=${TASKS:-0-$((n - 1))}
IFS=, read -r -a items <<<"$tasks"
[ "${#items[@]}" -gt 0 ] || refuse "TASKS is empty"
for item in "${items[@]}"; do
  [[ $item =~ ^([0-9]+)(-([0-9]+))?$ ]] ||
    refuse "TASKS takes task numbers and ranges, such as 0,1 or 2-3, not '$tasks'"
  first=$((10#${BASH_REMATCH[1]})) last=$((10#${BASH_REMATCH[3]:-${BASH_REMATCH[1]}}))
  [ "$first" -le "$last" ] && [ "$last" -lt "$n" ] ||
    refuse "TASKS '$tasks' names a task outside the $n parts 0 to $((n - 1))"
done
case ${RESUME:-} in
  "" | 0 | 1) ;;
  *) refuse "RESUME takes 1 (go on with each part) or 0, not '$RESUME'" ;;
esac

# Words as a POSIX shell reads them back (sbatch --wrap runs sh).
quote() {
  local w out=""
  for w; do
    if [[ $w =~ ^[A-Za-z0-9_./:=,+@%-]+$ ]]; then out+=" $w"; else out+=" '${w//\'/\'\\\'\'}'"; fi
  done
  printf '%s' "${out# }"
}
# This submission's own command, for the rerun (merge.sh prints it too).
again=$(quote "$here/submit.sh" "$grid_list" "$level" "$n" "$@")
[ -z "${TILVEX_GRID:-}" ] || again="TILVEX_GRID=$(quote "$TILVEX_GRID") $again"
export GRID_LIST=$grid_list LEVEL=$level PARTS=$n GRID_SUBMIT=$again
mkdir -p parts
job=$(sbatch --parsable --array="$tasks" --output='parts/part-%A_%a.log' "$@" "$here/grid.sbatch")
job=${job%%;*}
if ! merge=$(sbatch --parsable --dependency="afterany:$job" --output='merge-%j.log' "$@" \
  --wrap "$(quote "$here/merge.sh" parts "$n" summary.txt accepted.txt table.tsv)"); then
  echo "submit.sh: array job $job is submitted, but not its merge: once it has ended, run" \
    "$(quote "$here/merge.sh") parts $n summary.txt accepted.txt table.tsv" >&2
  exit 1
fi
merge=${merge%%;*}
echo "array job $job: tasks $tasks of $n parts, logs parts/part-${job}_TASK.log"
echo "merge job $merge: after every task, log merge-$merge.log"
echo "rerun unfinished tasks: RESUME=1${TASKS:+ TASKS=$tasks} $again"
