#!/usr/bin/env bash
# Builds and runs every test under AddressSanitizer (with its leak checker) and
# UndefinedBehaviorSanitizer, into build-asan/, with warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
export TESSEL_NAT_BUILD_DIR=build-asan TESSEL_NAT_BUILD_TYPE=Debug
export TESSEL_NAT_WERROR=${TESSEL_NAT_WERROR:-ON}
scripts/test.sh \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
