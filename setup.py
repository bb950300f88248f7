"""Builds the Python package "ostrand" for pip with the project's CMake build.

The build step configures its own build folder, build/pip (Release, without
the tests and benchmarks), builds the target ostrand_python, which lays the
package out in build/pip/python/ostrand (its Python code, the extension and a
copy of the libOstrand64 module beside them), and puts that folder into the
wheel. The version is the CMake project's.
"""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import setup
from setuptools.command.build_ext import build_ext
from setuptools.dist import Distribution

ROOT = Path(__file__).resolve().parent
BUILD = ROOT / "build" / "pip"


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    match = re.search(r"^\s*project\([^)]*\bVERSION\s+(\d+\.\d+\.\d+)", text, re.MULTILINE)
    if match is None:
        sys.exit("setup.py: CMakeLists.txt: project() gives no VERSION x.y.z")
    return match.group(1)


class CMakeBuild(build_ext):
    """Builds the package folder with CMake and copies it into build_lib."""

    def run(self):
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(BUILD),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DOSTRAND_BUILD_TESTS=OFF", "-DOSTRAND_BUILD_BENCH=OFF", "-DOSTRAND_BUILD_FUZZERS=OFF",
            "-DOSTRAND_BUILD_TOOLS=ON", "-DOSTRAND_BUILD_PYTHON=ON",
            # The extension is built for the Python that runs pip.
            f"-DPython_EXECUTABLE={sys.executable}",
        ]
        if not (BUILD / "CMakeCache.txt").exists() and shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        subprocess.run(configure, check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", str(BUILD), "--target", "ostrand_python", "--parallel", jobs], check=True)

        package = BUILD / "python" / "ostrand"
        destination = Path(self.build_lib) / "ostrand"
        shutil.rmtree(destination, ignore_errors=True)
        # Not what a run of the module leaves beside it: its log and settings file.
        shutil.copytree(package, destination,
                        ignore=shutil.ignore_patterns("__pycache__", "ostrand.log", "Ostrand.ini"))


class BinaryDistribution(Distribution):
    """The wheel holds compiled code: it is tagged for this Python and platform."""

    def has_ext_modules(self):
        return True


# The egg-info folder, which setuptools writes while building, goes there too.
BUILD.mkdir(parents=True, exist_ok=True)
setup(
    version=project_version(),
    packages=[],
    cmdclass={"build_ext": CMakeBuild},
    distclass=BinaryDistribution,
    options={"egg_info": {"egg_base": str(BUILD.relative_to(ROOT))}},
)
