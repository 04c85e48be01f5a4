"""Builds the extension tilvex._tilvex with the project's own CMake build
(target _tilvex of CMakeLists.txt, option TILVEX_PYTHON), so that the module
is compiled from the same sources with the same flags as the programs, and
copies it into the package. Needs cmake, ninja, a C++20 compiler, Python's
headers and pybind11's CMake package (Debian: cmake ninja-build g++
python3-dev python3-pybind11 pybind11-dev)."""

import os
import re
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.errors import SetupError

ROOT = os.path.dirname(os.path.abspath(__file__))

# The version is set in one place, CMakeLists.txt.
with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as cmake:
    version = re.search(r"project\(tilvex VERSION ([0-9.]+)", cmake.read()).group(1)


def tool(name, package):
    """The path of a build tool, or a stop naming the Debian package."""
    path = shutil.which(name)
    if path is None:
        raise SetupError(f"tilvex: {name} is missing; install the Debian package {package}")
    return path


PYBIND11_MISSING = "tilvex: pybind11 is missing; install the Debian packages python3-pybind11 pybind11-dev"


def pybind11_missing(tree):
    """Whether CMake's configure of `tree` failed for want of pybind11's
    CMake package: CMake caches what its own search found."""
    try:
        with open(os.path.join(tree, "CMakeCache.txt"), encoding="utf-8") as cache:
            return any(line.startswith("pybind11_DIR:") and line.rstrip().endswith("-NOTFOUND") for line in cache)
    except OSError:
        return False


class CMakeBuild(build_ext):
    """Configures a CMake tree of its own for this interpreter, builds the
    target _tilvex and nothing else, and copies the module where setuptools
    packs it."""

    def build_extension(self, ext):
        cmake, ninja = tool("cmake", "cmake"), tool("ninja", "ninja-build")
        tree = os.path.join(ROOT, "build", "python", "cmake-" + sys.implementation.cache_tag)
        configure = [cmake, "-S", ROOT, "-B", tree, "-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={ninja}",
                     "-DCMAKE_BUILD_TYPE=Release", "-DTILVEX_PYTHON=ON", "-DTILVEX_TESTS=OFF",
                     "-DTILVEX_BENCH=OFF", "-DTILVEX_PROGRAMS=OFF",
                     f"-DPython3_EXECUTABLE={sys.executable}"]
        try:  # pybind11's own package (pip's, or Debian's python3-pybind11) says where its CMake files are
            import pybind11
            configure.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except (ImportError, AttributeError):
            pass  # CMake looks for them itself (Debian's pybind11-dev)
        configured = subprocess.run(configure, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if configured.returncode != 0 and pybind11_missing(tree):
            sys.exit(PYBIND11_MISSING)
        sys.stdout.write(configured.stdout)
        if configured.returncode != 0:
            raise SetupError("tilvex: CMake could not configure the Python module; the reason is above")
        if subprocess.run([cmake, "--build", tree, "--target", "_tilvex"]).returncode != 0:
            raise SetupError("tilvex: the build of the Python module failed; the compiler's messages are above")
        built = os.path.join(tree, "python", "tilvex", "_tilvex" + sysconfig.get_config_var("EXT_SUFFIX"))
        if not os.path.exists(built):
            raise SetupError(f"tilvex: CMake built no module at {built}")
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built, target)


# setuptools' own files go below the build tree, not into the sources.
os.makedirs(os.path.join(ROOT, "build", "python"), exist_ok=True)

setup(version=version,
      options={"build": {"build_base": "build/python"}, "egg_info": {"egg_base": "build/python"}},
      ext_modules=[Extension("tilvex._tilvex", sources=[])],
      cmdclass={"build_ext": CMakeBuild})
