# CI's steps and their times, sourced by .ci/run:
#   step NAME COMMAND...      runs the command; its time is printed as it ends
#   steps_summary             every step's time, and the one that failed
# A step that fails stops the run (set -e), and the summary still prints.
# Each time is the wall time, and the CPU time (user and system) of the
# processes the step ran.
steps_names=()
steps_seconds=()
steps_cpu=()
steps_current=""

# The time now in seconds, with a decimal point whatever the locale.
steps_now() { echo "${EPOCHREALTIME/,/.}"; }
# Seconds since START (a steps_now), with one decimal.
steps_since() {
  awk -v a="$1" -v b="$(steps_now)" 'BEGIN { printf "%.1f", b - a }'
}

# The CPU seconds (user and system) of the run's finished child processes
# so far: fields 16 and 17 of /proc/PID/stat, in clock ticks.
steps_ticks=$(getconf CLK_TCK)
steps_children_cpu() {
  awk -v ticks="$steps_ticks" '{ sub(/^.*\) /, ""); printf "%.1f", ($14 + $15) / ticks }' "/proc/$$/stat"
}

steps_start=$(steps_now)

step() {
  local name=$1 start cpu
  start=$(steps_now)
  cpu=$(steps_children_cpu)
  shift
  steps_current=$name
  echo "ci: ---- $name" >&2
  "$@"
  local seconds
  seconds=$(steps_since "$start")
  cpu=$(awk -v a="$cpu" -v b="$(steps_children_cpu)" 'BEGIN { printf "%.1f", b - a }')
  steps_names+=("$name")
  steps_seconds+=("$seconds")
  steps_cpu+=("$cpu")
  steps_current=""
  printf 'ci: ---- %s: %s s (CPU %s s)\n' "$name" "$seconds" "$cpu" >&2
}

steps_summary() {
  {
    echo "ci: step times in seconds"
    printf 'ci:   %7s %7s  %s\n' wall CPU step
    local k
    for k in "${!steps_names[@]}"; do
      printf 'ci:   %7s %7s  %s\n' "${steps_seconds[$k]}" "${steps_cpu[$k]}" "${steps_names[$k]}"
    done
    [ -z "$steps_current" ] || echo "ci:   failed in: $steps_current"
    printf 'ci:   %7s %7s  in all\n' "$(steps_since "$steps_start")" "$(steps_children_cpu)"
  } >&2
}
