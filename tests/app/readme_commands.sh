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

echo "the README's commands ran as written"
