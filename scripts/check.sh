#!/usr/bin/env bash
# What CI runs, with warnings as errors: the README's test command and a short run of the
# benchmarks, a GCC Release build, a clang build, every test under the sanitizers and a short
# run of each fuzz target. Each configuration has its own folder.
set -euo pipefail
cd "$(dirname "$0")/.."
export TESSEL_NAT_WERROR=ON
scripts/test.sh
# The benchmarks must still run; their timings are not judged here, and the large sizes are
# left to bench/run.
./build/tessel_bench --benchmark_min_time=0.01 --benchmark_filter='/(0|1|256|1024|4096)(/|$)' \
  >/dev/null
# The churn soak, long enough to leave the short seeds of the test suite behind: fixed seeds
# and fresh ones on every run, whose range is printed for a replay, with the agent as a
# process of its own and hosted in the soak's process.
scripts/soak.sh 8 5000 1 process
scripts/soak.sh 16 5000 fresh process
scripts/soak.sh 8 5000 1 hosted
scripts/soak.sh 8 5000 fresh hosted
TESSEL_NAT_BUILD_DIR=build-release TESSEL_NAT_BUILD_TYPE=Release scripts/test.sh
CXX=clang++ TESSEL_NAT_BUILD_DIR=build-clang TESSEL_NAT_BUILD_TYPE=Debug scripts/test.sh
scripts/sanitize.sh
scripts/fuzz.sh
