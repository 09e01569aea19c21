#!/usr/bin/env bash
# Builds and runs the main program on its built-in default scenario.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
./build/tessel-nat "$@"
