#!/usr/bin/env bash
# Builds (see scripts/build.sh for the settings) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh "$@"
ctest --test-dir "${TESSEL_NAT_BUILD_DIR:-build}" --output-on-failure -j"$(nproc)"
