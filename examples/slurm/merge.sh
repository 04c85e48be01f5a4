#!/bin/bash
# Merges the parts of a grid run as a SLURM job array (grid.sbatch) into
# one summary file, one file of accepted resamples and one table, equal to
# one tilvex-grid run over the whole list.
#
#   merge.sh PARTS_DIR N summary.txt accepted.txt table.tsv
#
# Merges only when every part 0 .. N-1 has finished: each part's record
# (summary-K.txt.tilvex-grid) ends with "complete". Otherwise it names the
# parts that have not and the command that reruns them (submit.sh's own,
# with RESUME=1 and TASKS: the merge follows it), merges nothing and exits
# 1. A part whose points partly failed (its status 1) has finished too:
# those points are in its table with their messages.
#
# It never replaces a file: if summary.txt, accepted.txt or table.tsv
# exists it says so, merges nothing and exits 1; move the file away and
# run it again.
set -eu
if [ $# -ne 5 ]; then
  echo "usage: merge.sh PARTS_DIR N summary.txt accepted.txt table.tsv" >&2
  exit 2
fi
parts=$1 n=$2 summary=$3 accepted=$4 table=$5
case $n in
  "" | *[!0-9]* | 0*) echo "merge.sh: N, the number of parts, must be a whole number from 1, not '$n'" >&2; exit 2 ;;
esac
unfinished=()
for ((k = 0; k < n; k++)); do
  record="$parts/summary-$k.txt.tilvex-grid"
  if [ ! -f "$record" ] || [ "$(tail -n 1 "$record")" != complete ] ||
    ! head -n 1 "$record" | grep -q "	part=$k/$n\$"; then
    unfinished+=("$k")
  fi
done
if [ ${#unfinished[@]} -gt 0 ]; then
  list=$(IFS=,; echo "${unfinished[*]}")
  if [ -n "${GRID_SUBMIT:-}" ]; then  # set by submit.sh
    rerun="rerun them, with a merge after: RESUME=1 TASKS=$list $GRID_SUBMIT"
  else
    rerun="rerun them with RESUME=1 TASKS=$list before submit.sh and its arguments as first submitted"
  fi
  echo "merge.sh: parts ${unfinished[*]} of $n not finished; nothing merged; $rerun" >&2
  exit 1
fi
names=(summary accepted table) exts=(txt txt tsv) into=("$summary" "$accepted" "$table")
for f in "${into[@]}"; do
  if [ -e "$f" ] || [ -L "$f" ]; then
    echo "merge.sh: '$f' exists; nothing merged (it is never replaced: move it away and merge again)" >&2
    exit 1
  fi
done
# Each file is written whole under a new name in its folder, then linked
# into place: link(2) fails rather than replace a file that appeared since.
made=()
trap 'rm -f "${made[@]}"' EXIT
mode=$(printf '%o' $((0666 & ~$(umask))))
for i in 0 1 2; do
  made[i]=$(mktemp "${into[i]}.XXXXXX")
  chmod "$mode" "${made[i]}"
  for ((k = 0; k < n; k++)); do cat "$parts/${names[i]}-$k.${exts[i]}"; done >"${made[i]}"
done
for i in 0 1 2; do
  if ! ln "${made[i]}" "${into[i]}" 2>/dev/null; then
    done_before=${into[*]:0:i}
    echo "merge.sh: '${into[i]}' appeared meanwhile and is left as it is; merged: ${done_before:-nothing}" >&2
    exit 1
  fi
done
echo "merge.sh: $n parts merged into $summary, $accepted and $table" >&2
