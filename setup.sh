#!/usr/bin/env bash
# Installs the Debian packages the project needs (when missing), then configures
# and builds the given CMake presets (default: "default").
# Usage: ./setup.sh [--tests] [PRESET...]
set -euo pipefail
cd "$(dirname "$0")"

# python3 and clang-tidy run the CI's source checks.
packages=(cmake ninja-build g++ git libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libcli11-dev libstb-dev libtinyobjloader-dev
  libeigen3-dev libembree-dev pybind11-dev python3-dev python3-numpy python3-scipy python3-pytest python3-distributed clang libclang-rt-14-dev libomp-dev python3 clang-tidy)
# --tests: the programs the tests drive besides, as independent readers of
# what the command writes (Blender's OBJ importer and Mesh Cache modifier).
if [ "${1:-}" = "--tests" ]; then
  shift
  packages+=(blender)
fi
.ci/install-packages "${packages[@]}"

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default)
for preset in "${presets[@]}"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
