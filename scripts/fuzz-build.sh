# shellcheck shell=bash
# Sourced, from the repository root, by scripts/fuzz.sh and scripts/fuzz-long.sh: the libFuzzer
# build and run they share. The targets build with clang into build-fuzz/, the whole tree
# instrumented; TESSEL_NAT_WERROR=ON (the default) makes compiler warnings errors.

fuzz_build_dir=build-fuzz
# shellcheck disable=SC2034 # read by the scripts that source this file
fuzz_all_targets=(scenario_parser command_request scenario_steps)

# Builds fuzz_<target> for each target named.
fuzz_build() {
  scripts/setup.sh
  local sanitizers="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined"
  CXX=clang++ cmake -S . -B "$fuzz_build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTESSEL_NAT_FUZZ=ON -DTESSEL_NAT_WERROR="${TESSEL_NAT_WERROR:-ON}" \
        -DCMAKE_CXX_FLAGS="$sanitizers -fno-omit-frame-pointer" >/dev/null
  cmake --build "$fuzz_build_dir" -j2 --target "${@/#/fuzz_}"
}

# fuzz_run TARGET SECONDS ARTIFACT_PREFIX LOG: runs fuzz_<target> for SECONDS from its seeds
# in fuzz/corpus/, which stay read-only; new inputs go to build-fuzz/corpus/<target>/, an input
# that crashes, leaks, times out or runs out of memory to ARTIFACT_PREFIX followed by
# libFuzzer's name for it (crash-<sha1>, ...). Its output goes to LOG. Returns libFuzzer's
# status: 0 when the time ran out without a finding.
fuzz_run() {
  local target=$1 seconds=$2 artifact_prefix=$3 log=$4
  mkdir -p "$fuzz_build_dir/corpus/$target" "$(dirname "$artifact_prefix")"
  # The first folder takes the new inputs; the seeds are only read.
  "$fuzz_build_dir/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$artifact_prefix" \
      "$fuzz_build_dir/corpus/$target" "fuzz/corpus/$target" >"$log" 2>&1
}

# The number of inputs a finished run's LOG says it executed.
fuzz_runs_in() {
  grep -o 'stat::number_of_executed_units: [0-9]*' "$1" | grep -o '[0-9]*$'
}
