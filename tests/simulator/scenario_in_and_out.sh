#!/bin/sh
# The scenario's way in and out of the program: the built-in scenario printed by `scenario`
# is a file `check` accepts and `run` runs from the standard input, with the same report as
# the built-in run (but for how many packets its traffic sent); a refused file is one line
# and status 2, from `check` as from `run`; two runs of a generate report the same, and only
# --timing adds how long it took; with --json the steps carry their fields, a generate its
# counts as numbers, and a refusal and the agent's event log are JSON objects on stderr; `--version` names the program;
# and the README's sample scenario passes `check`.
# Usage: scenario_in_and_out.sh PROGRAM WORK_DIR README
program=$1
work=$2
readme=$3
mkdir -p "$work"
fail() { echo "$*"; exit 1; }

"$program" --version | grep -qx "tessel-nat [0-9]*\.[0-9]*\.[0-9]*" || fail "--version: $("$program" --version)"

"$program" scenario >"$work/builtin.json" || fail "scenario failed"
said=$("$program" check - <"$work/builtin.json") || fail "check refused the built-in scenario"
echo "$said" | grep -q "^standard input: [0-9]* steps, " || fail "check said: $said"

"$program" run >"$work/builtin.out" || fail "the built-in run failed"
"$program" run - <"$work/builtin.json" >"$work/stdin.out" || fail "the run from stdin failed"
sent() { sed 's/sent [0-9]*,/sent N,/' "$1"; }
[ "$(sent "$work/builtin.out")" = "$(sent "$work/stdin.out")" ] ||
  fail "the run from stdin reported otherwise"

printf '{"steps": [{"show": 99}]}' >"$work/bad.json"
for command in check run; do
  "$program" $command - <"$work/bad.json" >/dev/null 2>"$work/bad.err"
  status=$?
  [ "$status" -eq 2 ] || fail "$command of a refused scenario: status $status"
  [ "$(cat "$work/bad.err")" = "tessel-nat: standard input: steps[0].show: 99 is not a module id (1..64)" ] ||
    fail "$command said: $(cat "$work/bad.err")"
done

printf '{"steps": [{"generate": {"rules": 50, "seed": 3}}]}' >"$work/generate.json"
"$program" run "$work/generate.json" >"$work/generate1.out" || fail "the generate run failed"
"$program" run "$work/generate.json" >"$work/generate2.out" || fail "the generate run failed"
cmp -s "$work/generate1.out" "$work/generate2.out" || fail "two generate runs reported otherwise"
"$program" run "$work/generate.json" --timing | grep -q "^generated 50 rules: .*, in [0-9.]* s ([0-9]* rules/s)$" ||
  fail "--timing did not say how long the generate took"

"$program" run - --json <"$work/bad.json" >/dev/null 2>"$work/bad.err"
[ "$(cat "$work/bad.err")" = '{"event":"error","message":"standard input: steps[0].show: 99 is not a module id (1..64)"}' ] ||
  fail "run --json said: $(cat "$work/bad.err")"
"$program" run "$work/generate.json" --json >"$work/generate.jsonl" || fail "the generate run failed"
grep -qx '{"event":"step","step":"steps\[0\]","what":"generate 50 rules, seed 3, up to 4 VLANs a destination rule","action":"generate","fields":{"rules":50,"seed":3}}' "$work/generate.jsonl" ||
  fail "run --json's step: $(head -1 "$work/generate.jsonl")"
grep -q '^{"event":"generated","rules":50,"programmed":50,"failed":0,"refused":0}$' "$work/generate.jsonl" ||
  fail "run --json's generate: $(grep generated "$work/generate.jsonl")"
"$program" run --json >/dev/null 2>"$work/log.jsonl" || fail "the built-in run --json failed"
grep -q '^{"event":"log","name":"TESSEL_NAT_TCAM_RESOURCE_FULL","text":"Hardware resources .*","module":1,"uid":7}$' "$work/log.jsonl" ||
  fail "run --json's event log: $(head -1 "$work/log.jsonl")"

awk '/^```json$/{sample=1; next} /^```$/{if (sample) exit} sample' "$readme" >"$work/readme.json"
"$program" check "$work/readme.json" >/dev/null || fail "the README's sample scenario is refused"
