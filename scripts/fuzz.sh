#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/, the whole tree instrumented, and
# runs each for a bounded time from its seed corpus in fuzz/corpus/, which stays read-only:
# new inputs go to build-fuzz/corpus/, crashing ones to build-fuzz/crashes/. Fails when a
# target crashes. Settings, all optional, from the environment:
#   TESSEL_NAT_FUZZ_SECONDS  how long each target runs (20)
#   TESSEL_NAT_WERROR        ON makes compiler warnings errors (ON)
# Arguments name the targets to run, e.g. scenario_steps (all of them by default).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build_dir=build-fuzz
seconds=${TESSEL_NAT_FUZZ_SECONDS:-20}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(scenario_parser command_request scenario_steps)

sanitizers="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined"
CXX=clang++ cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSEL_NAT_FUZZ=ON \
      -DTESSEL_NAT_WERROR="${TESSEL_NAT_WERROR:-ON}" \
      -DCMAKE_CXX_FLAGS="$sanitizers -fno-omit-frame-pointer" >/dev/null
cmake --build "$build_dir" -j2 --target "${targets[@]/#/fuzz_}"

failed=()
for target in "${targets[@]}"; do
  mkdir -p "$build_dir/corpus/$target" "$build_dir/crashes"
  log="$build_dir/fuzz_$target.log"
  # The first folder takes the new inputs; the seeds are only read.
  if "$build_dir/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
       -artifact_prefix="$build_dir/crashes/$target-" \
       "$build_dir/corpus/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
    echo "fuzz_$target: $(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" |
                          grep -o '[0-9]*$') runs in ${seconds} s, no crash"
  else
    tail -n 60 "$log"
    echo "fuzz_$target: CRASHED, see $log and $build_dir/crashes/"
    failed+=("$target")
  fi
done
[ ${#failed[@]} -eq 0 ]
