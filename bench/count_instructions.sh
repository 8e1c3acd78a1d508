#!/usr/bin/env bash
# Counts the instructions executed per call inside each scenario's procedure
# (the exported procedure and everything it calls) with callgrind and compares
# them with the budgets. Instruction counts are repeatable where times are not.
#   bench/count_instructions.sh DRIVER [SCENARIO...]
#
# Each scenario runs twice, with FEW and MANY calls; the difference divided by
# MANY - FEW is the cost of one call without the setup (the schedule that a
# scenario defines first is itself a call of a counted procedure).
#
# Callgrind counts every iteration of a rep-prefixed string instruction (the
# `rep stosb` inside memset for a large block) as one instruction executed:
# zeroing 80 000 bytes shows as 80 000. The processor executes it as one
# instruction, so the count here takes each such instruction once per
# execution: callgrind records its iterations as jumps to itself, and these
# are subtracted. The raw callgrind figure is printed beside it.
#
# Exits 1 when a count exceeds its budget (bench/scenarios.cpp).
set -euo pipefail
driver=$1
shift
few=100
many=1100

command -v valgrind >/dev/null || { echo "valgrind not found (scripts/setup --all installs it)"; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# scenario symbol calls -> "instructions callgrind-Ir" collected inside symbol
count() {
  local out=$work/$1.$3
  valgrind --tool=callgrind --toggle-collect="$2" --dump-instr=yes --collect-jumps=yes \
    --callgrind-out-file="$out" "$driver" "$1" "$3" >"$work/log" 2>&1 || { cat "$work/log" >&2; exit 2; }
  awk '
    /^(summary|totals):/ { total = $2 }
    pending >= 0 { if ($1 == "*" && NF == 2) repeats += pending; pending = -1 }
    /^(jump|jcnd)=/ {
      split($1, field, "="); split(field[2], taken, "/")
      pending = ($2 == "*") ? taken[1] : -1
    }
    BEGIN { pending = -1; repeats = 0 }
    END { print total - repeats, total }
  ' "$out"
}

fail=0
printf '%-26s %-17s %10s %8s %14s\n' scenario procedure "instr/call" budget "callgrind Ir"
while read -r name symbol budget; do
  if [ "$#" -gt 0 ] && ! printf '%s\n' "$@" | grep -qx "$name"; then continue; fi
  first=$(count "$name" "$symbol" "$few")
  second=$(count "$name" "$symbol" "$many")
  read -r a a_raw <<<"$first"
  read -r b b_raw <<<"$second"
  calls=$((many - few))
  per_call=$(( (b - a + calls / 2) / calls ))
  raw_per_call=$(( (b_raw - a_raw + calls / 2) / calls ))
  verdict=ok
  if [ "$per_call" -gt "$budget" ]; then
    verdict="OVER BUDGET by $((per_call - budget))"; fail=1
  fi
  printf '%-26s %-17s %10d %8d %14d  %s\n' "$name" "$symbol" "$per_call" "$budget" "$raw_per_call" "$verdict"
done < <("$driver" --list)
exit "$fail"
