#!/usr/bin/env bash
# Long fuzzing runs, beside CI's short ones: builds the libFuzzer targets as scripts/fuzz.sh
# does and runs each in turn for SECONDS (600 by default), from its seeds and from what earlier
# runs of either script added to build-fuzz/corpus/. The inputs a target finds (crashing,
# leaking, timing out, running out of memory) and each target's log go to a folder of this
# run's own, build-fuzz/findings/<date-time>/, printed at the start; at the end every finding
# is listed with the command that replays it. Fails when a target found something.
#   scripts/fuzz-long.sh [SECONDS] [TARGET...]   e.g. scripts/fuzz-long.sh 3600 scenario_steps
# All targets by default. TESSEL_NAT_WERROR=ON (the default) makes compiler warnings errors.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/fuzz-build.sh
seconds=600
if [[ ${1:-} =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${fuzz_all_targets[@]}")
fuzz_build "${targets[@]}"

findings="$PWD/$fuzz_build_dir/findings/$(date +%Y%m%d-%H%M%S)"
mkdir -p "$findings"
echo "findings and logs of this run: $findings"

shopt -s nullglob
replays=()
stopped=()
for target in "${targets[@]}"; do
  log="$findings/$target.log"
  echo "fuzz_$target: ${seconds} s from $(date +%H:%M:%S)"
  if fuzz_run "$target" "$seconds" "$findings/$target-" "$log"; then
    echo "fuzz_$target: $(fuzz_runs_in "$log") runs, nothing found"
    continue
  fi
  found=("$findings/$target-"*)
  if [ ${#found[@]} -eq 0 ]; then
    # libFuzzer stopped without saving an input: it could not start, or it was interrupted.
    tail -n 20 "$log"
    echo "fuzz_$target: stopped without a finding, see $log"
    stopped+=("$target")
    continue
  fi
  tail -n 20 "$log"
  echo "fuzz_$target: found ${#found[@]} input(s), see $log"
  for input in "${found[@]}"; do
    replays+=("$(printf '%q %q' "$PWD/$fuzz_build_dir/fuzz/fuzz_$target" "$input")")
  done
done

if [ ${#replays[@]} -gt 0 ]; then
  echo "to replay each finding (it runs the input once and prints the report):"
  printf '  %s\n' "${replays[@]}"
fi
[ ${#stopped[@]} -eq 0 ] || echo "stopped early: ${stopped[*]}"
[ ${#replays[@]} -eq 0 ] && [ ${#stopped[@]} -eq 0 ] || exit 1
echo "nothing found; the logs are in $findings"
