#!/bin/bash
# Runs the README's commands as a user pastes them, from a folder where
# build/ holds the built programs.
#   bash readme_commands.sh SOURCE_DIR BINARY_DIR
set -u
source_dir=$1 binary_dir=$2
readme=$source_dir/README.md
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "readme_commands: $*" >&2
  exit 1
}

# The README's line that starts with $1 (an extended regular expression)
# after blanks, without the blanks.
command_of() {
  local line
  line=$(grep -m 1 -E "^[[:space:]]*$1" "$readme") || fail "README.md has no command starting with '$1'"
  echo "${line#"${line%%[![:space:]]*}"}"
}

# A folder of its own for a command, with build/ as the README has it.
folder() {
  mkdir -p "$work/$1" && ln -s "$binary_dir" "$work/$1/build" && cd "$work/$1" || exit 1
}

# A compressed input through a pipe: the same files as the plain input.
command=$(command_of 'build/tilvex <\(zcat run\.vrin\.gz\)') || exit 1
folder piped
gzip -c "$source_dir/examples/worked.vrin" > run.vrin.gz
bash -c "$command" || fail "'$command' exited with status $?"
rm run.vrin.gz
folder plain
cp "$source_dir/examples/worked.vrin" run.vrin
bash -c "${command/"<(zcat run.vrin.gz)"/run.vrin}" || fail "the same command on run.vrin exited with status $?"
rm run.vrin
[ "$(find . -type f -size +0 | wc -l)" -eq 2 ] || fail "'$command' did not append to two files"
diff -r --no-dereference "$work/piped" "$work/plain" >&2 || fail "'$command' wrote other files than the same command on run.vrin"

# The grid of "Running a grid", on the point of the list line it shows, and
# the figures of its files: each names that point.
list_line=$(command_of '# grid.txt, one point a line:') || exit 1
read -r input x y z t <<< "${list_line#*one point a line:}"
folder grid
cp "$source_dir/examples/realistic.vrin" "$input"
echo "$input $x $y $z $t" > grid.txt
for start in 'build/tilvex-grid grid.txt' 'build/tilvex-plot accepted.txt' 'build/tilvex-plot --map grid.tsv'; do
  command=$(command_of "$start") || exit 1
  bash -c "$command" || fail "'$command' exited with status $?"
done
net=$(command_of 'build/tilvex-plot accepted.txt') && map=$(command_of 'build/tilvex-plot --map grid.tsv') || exit 1
grep -q "grid point $x $y $z $t" "${net##* }" || fail "'$net' did not draw grid point $x $y $z $t"
grep -q "best fit from grid.tsv" "${net##* }" || fail "'$net' did not take the best fit from grid.tsv"
grep -q "slice z $z t $t" "${map##* }" || fail "'$map' did not draw slice $z $t"

# The netCDF file of a merged table (here the grid's own).
cp grid.tsv table.tsv
command=$(command_of 'build/tilvex-netcdf table.tsv') || exit 1
bash -c "$command" || fail "'$command' exited with status $?"
if command -v ncdump >/dev/null; then
  ncdump -h grid.nc | grep -q ':confidence_level = "95"' || fail "'$command' wrote no confidence level"
fi

echo "the README's commands ran as written"
