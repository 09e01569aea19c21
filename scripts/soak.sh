#!/usr/bin/env bash
# Runs the churn soak (`tessel-nat soak`) over many seeds, several at a time, and prints the
# replay command of every seed that fails. Exits 1 when one did.
#   scripts/soak.sh [SEEDS] [STEPS] [FIRST] [MODE]
#     SEEDS  how many seeds (200)
#     STEPS  steps per seed (5000)
#     FIRST  the first seed (1), or "fresh" for one drawn at random; the range is printed
#     MODE   "both" (the default): even seeds run the agent as a process of its own, killed
#            and held at random points, odd seeds host it in the soak's process, where
#            framework work runs inside its SDK calls and targeted reads are corrupted;
#            "process" or "hosted" runs every seed one way
# The build folder is TESSEL_NAT_BUILD_DIR (build), built first as scripts/build.sh builds it.
set -euo pipefail
cd "$(dirname "$0")/.."
seeds=${1:-200}
steps=${2:-5000}
first=${3:-1}
mode=${4:-both}
case "$mode" in
  # A process seed's driver and agent take turns, so that a seed keeps less than a core busy.
  both | process) jobs=$((2 * $(nproc))) ;;
  hosted) jobs=$(nproc) ;;
  *) echo "soak: MODE is both, process or hosted, not '$mode'" >&2; exit 2 ;;
esac
if [ "$first" = fresh ]; then
  first=$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')
fi
scripts/build.sh >/dev/null
program=${TESSEL_NAT_BUILD_DIR:-build}/tessel-nat
last=$((first + seeds - 1))
case "$mode" in
  both) agent="a process on even seeds, hosted on odd ones" ;;
  *) agent=$mode ;;
esac
echo "soak: seeds $first..$last, $steps steps each, the agent $agent"
start=$SECONDS
# Each failing seed prints its failure, the steps before it and its replay command.
failures=$(seq "$first" "$last" |
  while read -r seed; do
    if [ "$mode" = hosted ] || { [ "$mode" = both ] && [ $((seed % 2)) -eq 1 ]; }; then
      echo "$seed --hosted"
    else
      echo "$seed"
    fi
  done |
  xargs -P "$jobs" -L 1 sh -c \
    'out=$("$0" soak $2 --seed "$1" --steps '"$steps"' 2>&1) || printf "%s\n" "$out"' "$program")
if [ -n "$failures" ]; then
  printf '%s\n' "$failures"
  echo "soak: $(printf '%s\n' "$failures" | grep -c '^replay:') of $seeds seeds failed"
  exit 1
fi
echo "soak: $seeds seeds x $steps steps, every check held ($((SECONDS - start)) s)"
