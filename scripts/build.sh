#!/usr/bin/env bash
# Installs what is missing, configures and builds everything.
# Settings, all optional, from the environment:
#   TESSEL_NAT_BUILD_DIR   build folder (build)
#   TESSEL_NAT_BUILD_TYPE  CMake build type (RelWithDebInfo)
#   TESSEL_NAT_WERROR      ON makes compiler warnings errors (OFF; CI and developers use ON)
#   CXX                    the compiler, read when a build folder is first configured
# Further arguments go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build_dir=${TESSEL_NAT_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE="${TESSEL_NAT_BUILD_TYPE:-RelWithDebInfo}" \
      -DTESSEL_NAT_WERROR="${TESSEL_NAT_WERROR:-OFF}" "$@" >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
