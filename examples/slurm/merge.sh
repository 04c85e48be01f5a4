#!/bin/bash
# Merges the parts of a grid run as a SLURM job array (grid.sbatch) into
# one summary file, one file of accepted resamples and one table, equal to
# one tilvex-grid run over the whole list.
#
#   merge.sh PARTS_DIR N summary.txt accepted.txt table.tsv
#
# Merges only when every part 0 .. N-1 has finished: each part's record
# (summary-K.txt.tilvex-grid) ends with "complete". Otherwise it names the
# parts that have not, merges nothing and exits 1. A part whose points
# partly failed (its status 1) has finished too: those points are in its
# table with their messages.
set -eu
if [ $# -ne 5 ]; then
  echo "usage: merge.sh PARTS_DIR N summary.txt accepted.txt table.tsv" >&2
  exit 2
fi
parts=$1 n=$2 summary=$3 accepted=$4 table=$5
unfinished=""
for ((k = 0; k < n; k++)); do
  record="$parts/summary-$k.txt.tilvex-grid"
  if [ ! -f "$record" ] || [ "$(tail -n 1 "$record")" != complete ] ||
    ! head -n 1 "$record" | grep -q "	part=$k/$n\$"; then
    unfinished="$unfinished $k"
  fi
done
if [ -n "$unfinished" ]; then
  echo "merge.sh: parts not finished:$unfinished; nothing merged" >&2
  exit 1
fi
for what in "summary:$summary:txt" "accepted:$accepted:txt" "table:$table:tsv"; do
  IFS=: read -r name into ext <<<"$what"
  for ((k = 0; k < n; k++)); do cat "$parts/$name-$k.$ext"; done >"$into.partial"
  mv "$into.partial" "$into"
done
echo "merge.sh: $n parts merged into $summary, $accepted and $table" >&2
