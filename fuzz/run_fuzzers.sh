#!/usr/bin/env bash
# Runs every libFuzzer target for a bounded time, starting from its committed
# corpus, and stops at the first input that fails a check or crashes.
#   fuzz/run_fuzzers.sh [SECONDS_PER_TARGET] [TARGET...]
# SU55IF_FUZZ_JOBS targets run at a time (default 1): each fuzzer uses one
# core, so on two cores two take half the time.
# Needs the `fuzz` preset built (cmake --preset fuzz && cmake --build --preset fuzz).
# New interesting inputs go to build/fuzz/new-corpus/<target>/ (merge them
# into fuzz/corpus/<target>/ with -merge=1 when they add coverage); a failing
# input is left in build/fuzz/artifacts/ and should be committed as
# fuzz/corpus/<target>/regression-<what> together with its fix.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
targets=("$@")
build=build/fuzz
if [ "${#targets[@]}" -eq 0 ]; then  # every target the fuzz preset built
  for program in "$build"/fuzz/fuzz_*; do
    [ -x "$program" ] && targets+=("${program##*/fuzz_}")
  done
fi
artifacts=$build/artifacts
mkdir -p "$artifacts"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

jobs=${SU55IF_FUZZ_JOBS:-1}
[[ "$jobs" =~ ^[1-9][0-9]*$ ]] || { echo "SU55IF_FUZZ_JOBS must be a whole number from 1, not '$jobs'"; exit 2; }
for target in "${targets[@]}"; do
  [ -x "$build/fuzz/fuzz_$target" ] || { echo "missing $build/fuzz/fuzz_$target: build the fuzz preset first"; exit 2; }
done

# One target, run in the background: the fuzzer takes the place of its
# subshell; its log is build/fuzz/fuzz_TARGET.log.
fuzz_one() {
  local target=$1
  local fresh=$build/new-corpus/$target
  mkdir -p "$fresh" "fuzz/corpus/$target"
  # -max_len keeps sessions to a few dozen calls; -rss_limit_mb stays within
  # a CI machine. New inputs go to the first directory only.
  exec "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=2048 -timeout=10 \
    -artifact_prefix="$artifacts/$target-" -print_final_stats=1 \
    "$fresh" "fuzz/corpus/$target" >"$build/fuzz_$target.log" 2>&1
}

# Reports the target that ended with the status given; stops at a failure.
finished() {
  local target=$1 status=$2
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$build/fuzz_$target.log"
    echo "fuzz_$target failed; the input is in $artifacts/"
    kill "${!running[@]}" 2>/dev/null || true
    wait || true
    exit 1
  fi
  echo "== fuzz_$target for ${seconds}s: $(grep -E '^stat::(number_of_executed_units|new_units_added)' \
    "$build/fuzz_$target.log" | tr '\n' ' ')"
}

declare -A running=()  # process id -> target
# Waits for one running target to end, and reports it.
reap() {
  local status=0 pid
  wait -n -p pid "${!running[@]}" || status=$?
  local target=${running[$pid]}
  unset "running[$pid]"
  finished "$target" "$status"
}
for target in "${targets[@]}"; do
  while [ "${#running[@]}" -ge "$jobs" ]; do reap; done
  fuzz_one "$target" &
  running[$!]=$target
done
while [ "${#running[@]}" -gt 0 ]; do reap; done
echo "fuzzing: ${#targets[@]} passed, 0 failed"
