# CI's steps and their times, sourced by .ci/run:
#   step NAME COMMAND...      runs the command; its time is printed as it ends
#   side_by_side TRACK...     runs each TRACK (a function of steps) at once,
#                             in the background; each one's output is printed
#                             when all have ended; fails if one failed
#   steps_summary             every step's time, and the one that failed
# A step that fails stops the run (set -e), and the summary still prints.
# Each time is the wall time, and the CPU time (user and system) of the
# processes the step ran. The lines that tell a step's start and end go to
# this run's standard error as they come, from every track.
steps_file=$(mktemp)
exec 3>&2

# The time now in seconds, with a decimal point whatever the locale.
steps_now() { echo "${EPOCHREALTIME/,/.}"; }
# Seconds since START (a steps_now), with one decimal.
steps_since() {
  awk -v a="$1" -v b="$(steps_now)" 'BEGIN { printf "%.1f", b - a }'
}

# The CPU seconds (user and system) of the finished child processes of the
# shell or track this runs in: fields 16 and 17 of /proc/PID/stat, in clock
# ticks.
steps_ticks=$(getconf CLK_TCK)
steps_children_cpu() {
  awk -v ticks="$steps_ticks" '{ sub(/^.*\) /, ""); printf "%.1f", ($14 + $15) / ticks }' "/proc/$BASHPID/stat"
}

steps_start=$(steps_now)

step() {
  local name=$1 start cpu
  start=$(steps_now)
  cpu=$(steps_children_cpu)
  shift
  printf 'start\t%s\n' "$name" >>"$steps_file"
  echo "ci: ---- $name" >&3
  "$@"
  local seconds
  seconds=$(steps_since "$start")
  cpu=$(awk -v a="$cpu" -v b="$(steps_children_cpu)" 'BEGIN { printf "%.1f", b - a }')
  printf 'end\t%s\t%s\t%s\n' "$seconds" "$cpu" "$name" >>"$steps_file"
  printf 'ci: ---- %s: %s s (CPU %s s)\n' "$name" "$seconds" "$cpu" >&3
}

side_by_side() {
  local pids=() logs=() k status=0
  for k in "$@"; do
    logs+=("$(mktemp)")
    "$k" >"${logs[-1]}" 2>&1 &
    pids+=("$!")
  done
  for k in "${!pids[@]}"; do
    wait "${pids[$k]}" || status=1
  done
  for k in "${!logs[@]}"; do
    echo "ci: ==== the output of ${*:k+1:1}"
    cat "${logs[$k]}"
    rm -f "${logs[$k]}"
  done
  return "$status"
}

steps_summary() {
  {
    echo "ci: step times in seconds"
    printf 'ci:   %7s %7s  %s\n' wall CPU step
    awk -F '\t' '$1 == "end" { printf "ci:   %7s %7s  %s\n", $2, $3, $4 }' "$steps_file"
    awk -F '\t' '$1 == "start" { started[$2] = 1 } $1 == "end" { delete started[$4] }
                 END { for (name in started) print "ci:   failed in: " name }' "$steps_file"
    printf 'ci:   %7s %7s  in all\n' "$(steps_since "$steps_start")" "$(steps_children_cpu)"
  } >&2
  rm -f "$steps_file"
}
