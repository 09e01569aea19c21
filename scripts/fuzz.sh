#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/, the whole tree instrumented, and
# runs each for a bounded time from its seed corpus in fuzz/corpus/, which stays read-only:
# new inputs go to build-fuzz/corpus/, crashing ones to build-fuzz/crashes/. Fails when a
# target crashes. Settings, all optional, from the environment:
#   TESSEL_NAT_FUZZ_SECONDS  how long each target runs (20)
#   TESSEL_NAT_WERROR        ON makes compiler warnings errors (ON)
# Arguments name the targets to run, e.g. scenario_steps (all of them by default).
# scripts/fuzz-long.sh runs them for longer.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/fuzz-build.sh
seconds=${TESSEL_NAT_FUZZ_SECONDS:-20}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${fuzz_all_targets[@]}")
fuzz_build "${targets[@]}"

failed=()
for target in "${targets[@]}"; do
  log="$fuzz_build_dir/fuzz_$target.log"
  if fuzz_run "$target" "$seconds" "$fuzz_build_dir/crashes/$target-" "$log"; then
    echo "fuzz_$target: $(fuzz_runs_in "$log") runs in ${seconds} s, no crash"
  else
    tail -n 60 "$log"
    echo "fuzz_$target: CRASHED, see $log and $fuzz_build_dir/crashes/"
    failed+=("$target")
  fi
done
[ ${#failed[@]} -eq 0 ]
