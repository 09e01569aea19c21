#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with. Safe to run again:
# apt-get runs only when something on the list is missing.
set -euo pipefail

packages=(
  cmake
  g++
  make
  libgtest-dev
  libgmock-dev
  libbenchmark-dev
  clang          # CI also builds and tests with clang
  nlohmann-json3-dev  # the simulator's scenario files
  libcli11-dev   # the simulator's command line
  libclang-rt-14-dev  # sanitizers and libFuzzer runtime for clang
  libfuzzer-14-dev    # the fuzz targets
  libboost-dev   # headers only: Boost.Interprocess (the switch segment), Boost.Asio (the agent's loop)
)

missing=()
for pkg in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
