#!/usr/bin/env bash
# Installs the Debian packages the project needs (when missing), then configures
# and builds the given CMake presets (default: "default").
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake ninja-build g++ git libgtest-dev libgmock-dev libbenchmark-dev
  libtinyobjloader-dev nlohmann-json3-dev libcli11-dev libstb-dev
  libeigen3-dev libembree-dev clang libclang-rt-14-dev libomp-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default)
for preset in "${presets[@]}"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
