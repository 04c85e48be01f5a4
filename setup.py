"""Builds the extension tilvex._tilvex from the C++ library's own sources,
with the project's flags placed after Python's (which would turn
vectorisation on at -O2 and change no result only by luck)."""

import os
import re
from glob import glob

from pybind11.setup_helpers import Pybind11Extension
from setuptools import setup

# The library: the layers the analysis needs, and the journal's reader.
sources = sorted(glob("src/numeric/*.cpp") + glob("src/text/*.cpp") + glob("src/analysis/*.cpp")
                 + glob("src/run/*.cpp") + ["src/files/input_file.cpp", "src/files/journal.cpp", "src/files/posix.cpp",
                 "src/grid/table.cpp", "src/grid/table_read.cpp"])
exact = ["-O2", "-fno-tree-vectorize", "-ffp-contract=off", "-fno-fast-math"]
# The version is set in one place, CMakeLists.txt.
with open("CMakeLists.txt", encoding="utf-8") as cmake:
    version = re.search(r"project\(tilvex VERSION ([0-9.]+)", cmake.read()).group(1)

# setuptools' own files go below the build tree, not into the sources.
os.makedirs("build/python", exist_ok=True)

setup(version=version,
      options={"build": {"build_base": "build/python"}, "egg_info": {"egg_base": "build/python"}},
      ext_modules=[Pybind11Extension(
    "tilvex._tilvex", ["python/module.cpp"] + sources,
    include_dirs=["include", "src"], cxx_std=20,
    define_macros=[("TILVEX_VERSION", f'"{version}"')],
    extra_compile_args=exact)])
