#!/usr/bin/env bash
# Installs the Debian packages the project needs (when missing), then
# configures and builds.
#
# Usage: ./setup.sh               the main job only: the module and the command
#                                 (build/default, without tests, benchmarks or Python)
#        ./setup.sh [--tests] PRESET...
#                                 every target of each CMake preset; --tests also
#                                 installs the programs the tests drive
set -euo pipefail
cd "$(dirname "$0")"

# What the module and the command need.
packages=(cmake ninja-build g++ nlohmann-json3-dev libcli11-dev libstb-dev libeigen3-dev)
# What the presets' tests, benchmarks and Python module need besides; python3
# and clang-tidy run the CI's source checks.
everything=(git libgtest-dev libgmock-dev libbenchmark-dev libtinyobjloader-dev libembree-dev
  pybind11-dev python3-dev python3-numpy python3-scipy python3-pytest python3-distributed
  clang libclang-rt-14-dev libomp-dev python3 clang-tidy)
# The installation check (.ci/install-check): pip into a virtual environment,
# the Debian package's dependency scan.
everything+=(python3-venv python3-pip python3-setuptools python3-wheel dpkg-dev file)
# --tests: the programs the tests drive besides, as independent readers of
# what the command writes (Blender's OBJ importer and Mesh Cache modifier).
if [ "${1:-}" = "--tests" ]; then
  shift
  everything+=(blender)
fi

if [ $# -eq 0 ]; then
  .ci/install-packages "${packages[@]}"
  cmake --preset default -DOSTRAND_BUILD_TESTS=OFF -DOSTRAND_BUILD_BENCH=OFF -DOSTRAND_BUILD_PYTHON=OFF >/dev/null
  cmake --build --preset default --target ostrand
  exit 0
fi

.ci/install-packages "${packages[@]}" "${everything[@]}"
for preset in "$@"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
