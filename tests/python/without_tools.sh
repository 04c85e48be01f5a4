#!/bin/bash
# What a user without pytest or pybind11 is told: make python-test names
# the Debian package of pytest, and setup.py (what pip runs to build the
# module) those of pybind11, in one line and with a non-zero status.
# pybind11 is hidden in a mount namespace of the test's own (root only;
# status 77, skipped, elsewhere).
#   bash without_tools.sh SOURCE_DIR
set -u
source_dir=$1
fail() {
  echo "without_tools: $*" >&2
  exit 1
}

# A Python without its site packages (-S) has no pytest.
out=$(make -s --no-print-directory -C "$source_dir" pytest PYTHON="/usr/bin/python3 -S" 2>/dev/null) &&
  fail "make pytest passed with a Python without pytest"
[ "$out" = "make: pytest is missing; install the Debian package python3-pytest" ] ||
  fail "make pytest said '$out'"

if [ "$(id -u)" != 0 ] || ! unshare -m true 2>/dev/null || ! /usr/bin/python3 -c 'import setuptools' 2>/dev/null; then
  echo "skipped: hiding pybind11 needs root, a mount namespace and Debian's python3-setuptools"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for part in CMakeLists.txt setup.py pyproject.toml README.md cmake include src app tools python docs; do
  cp -r "$source_dir/$part" "$work/"
done
mkdir "$work/empty"
# Debian's pybind11: python3-pybind11's package, pybind11-dev's CMake
# package and headers.
unshare -m bash -c '
  mount --make-rprivate / || exit 77
  for d in /usr/lib/python3/dist-packages/pybind11 /usr/lib/cmake/pybind11 /usr/include/pybind11; do
    if [ -d "$d" ]; then mount --bind "$1/empty" "$d" || exit 77; fi
  done
  if /usr/bin/python3 -c "import pybind11; pybind11.get_cmake_dir()" 2>/dev/null; then exit 77; fi
  cd "$1" && exec /usr/bin/python3 setup.py build_ext' sh "$work" > "$work/stdout" 2> "$work/stderr"
status=$?
[ $status = 77 ] && { echo "skipped: pybind11 could not be hidden (one other than Debian's, or no mount)"; exit 77; }
[ $status != 0 ] || fail "setup.py built the module without pybind11"
said=$(grep -v -e '^ *warnings.warn' -e 'Warning: \|_BetaConfiguration' "$work/stderr")
expected="tilvex: pybind11 is missing; install the Debian packages python3-pybind11 pybind11-dev"
[ "$said" = "$expected" ] || fail "setup.py said on standard error:
$(cat "$work/stderr")"
grep -q 'CMake Error' "$work/stdout" && fail "setup.py printed CMake's error besides its own line"
echo "make and setup.py name the missing packages"
