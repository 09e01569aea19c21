#!/usr/bin/env bash
# Runs the churn soak (`tessel-nat soak`) over many seeds, several at a time, and prints the
# replay command of every seed that fails. Exits 1 when one did.
#   scripts/soak.sh [SEEDS] [STEPS] [FIRST] [MODE]
#     SEEDS  how many seeds (200)
#     STEPS  steps per seed (5000)
#     FIRST  the first seed (1), or "fresh" for one drawn at random; the range is printed
#     MODE   "process" (the default): the agent is a process of its own, killed and held at
#            random points; "hosted": the agent runs in the soak's process, where framework
#            work runs inside its SDK calls and targeted reads are corrupted
# The build folder is TESSEL_NAT_BUILD_DIR (build), built first as scripts/build.sh builds it.
set -euo pipefail
cd "$(dirname "$0")/.."
seeds=${1:-200}
steps=${2:-5000}
first=${3:-1}
mode=${4:-process}
case "$mode" in
  # The driver and its agent take turns, and a killed agent is seen only at the driver's
  # next look: a seed keeps less than a core busy.
  process) flags=""; jobs=$((2 * $(nproc))) ;;
  hosted) flags="--hosted"; jobs=$(nproc) ;;
  *) echo "soak: MODE is process or hosted, not '$mode'" >&2; exit 2 ;;
esac
if [ "$first" = fresh ]; then
  first=$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')
fi
scripts/build.sh >/dev/null
program=${TESSEL_NAT_BUILD_DIR:-build}/tessel-nat
last=$((first + seeds - 1))
echo "soak: seeds $first..$last, $steps steps each, the agent $mode"
start=$SECONDS
# Each failing seed prints its failure, the steps before it and its replay command.
failures=$(seq "$first" "$last" |
  xargs -P "$jobs" -I{} sh -c \
    "out=\$('$program' soak $flags --seed {} --steps $steps 2>&1) || printf '%s\n' \"\$out\"")
if [ -n "$failures" ]; then
  printf '%s\n' "$failures"
  echo "soak: $(printf '%s\n' "$failures" | grep -c '^replay:') of $seeds seeds failed"
  exit 1
fi
echo "soak: $seeds seeds x $steps steps, every check held ($((SECONDS - start)) s)"
