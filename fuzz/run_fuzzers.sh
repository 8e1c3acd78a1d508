#!/usr/bin/env bash
# Runs every libFuzzer target for a bounded time, starting from its committed
# corpus, and stops at the first input that fails a check or crashes.
#   fuzz/run_fuzzers.sh [SECONDS_PER_TARGET] [TARGET...]
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

for target in "${targets[@]}"; do
  program=$build/fuzz/fuzz_$target
  [ -x "$program" ] || { echo "missing $program: build the fuzz preset first"; exit 2; }
  fresh=$build/new-corpus/$target
  mkdir -p "$fresh" "fuzz/corpus/$target"
  echo "== fuzz_$target for ${seconds}s"
  # -max_len keeps sessions to a few dozen calls; -rss_limit_mb stays within
  # a CI machine. New inputs go to the first directory only.
  if ! "$program" -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=2048 -timeout=10 \
      -artifact_prefix="$artifacts/$target-" -print_final_stats=1 \
      "$fresh" "fuzz/corpus/$target" >"$build/fuzz_$target.log" 2>&1; then
    tail -n 60 "$build/fuzz_$target.log"
    echo "fuzz_$target failed; the input is in $artifacts/"
    exit 1
  fi
  grep -E '^stat::(number_of_executed_units|new_units_added)' "$build/fuzz_$target.log" | tr '\n' ' '
  echo
done
echo "fuzzing: ${#targets[@]} passed, 0 failed"
