#!/bin/bash
# Submits a grid as a SLURM job array of N parts and the merge after it.
#
#   submit.sh GRID_LIST LEVEL N [sbatch options ...]
#
# The merge waits for every task to end, whatever its status ("afterany":
# status 1, some points failed, is a normal outcome), then merges only if
# every part finished (merge.sh checks each part's record).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
grid_list=$1 level=$2 n=$3
shift 3
export GRID_LIST=$grid_list LEVEL=$level
mkdir -p parts
job=$(sbatch --parsable --array="0-$((n - 1))" --output="parts/part-%a.log" "$@" "$here/grid.sbatch")
sbatch --parsable --dependency="afterany:${job%%;*}" --output=merge.log "$@" \
  --wrap "'$here/merge.sh' parts $n summary.txt accepted.txt table.tsv"
