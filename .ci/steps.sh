# CI's steps and their times, sourced by .ci/run:
#   step NAME COMMAND...      runs the command; its time is printed as it ends
#   steps_summary             every step's time, and the one that failed
# A step that fails stops the run (set -e), and the summary still prints.
# Each time is the wall time, and the CPU time (user and system) of the
# processes the step ran; both go to standard error.
steps_file=$(mktemp)

# The time now in seconds, with a decimal point whatever the locale.
steps_now() { echo "${EPOCHREALTIME/,/.}"; }
# Seconds since START (a steps_now), with one decimal.
steps_since() {
  awk -v a="$1" -v b="$(steps_now)" 'BEGIN { printf "%.1f", b - a }'
}

# The CPU seconds (user and system) of the finished child processes of the
# shell PID: fields 16 and 17 of /proc/PID/stat, in clock ticks.
steps_ticks=$(getconf CLK_TCK)
steps_children_cpu() {
  awk -v ticks="$steps_ticks" '{ sub(/^.*\) /, ""); printf "%.1f", ($14 + $15) / ticks }' "/proc/$1/stat"
}

steps_start=$(steps_now)

step() {
  local name=$1 start cpu shell=$BASHPID
  start=$(steps_now)
  cpu=$(steps_children_cpu "$shell")
  shift
  printf 'start\t%s\n' "$name" >>"$steps_file"
  echo "ci: ---- $name" >&2
  "$@"
  local seconds
  seconds=$(steps_since "$start")
  cpu=$(awk -v a="$cpu" -v b="$(steps_children_cpu "$shell")" 'BEGIN { printf "%.1f", b - a }')
  printf 'end\t%s\t%s\t%s\n' "$seconds" "$cpu" "$name" >>"$steps_file"
  printf 'ci: ---- %s: %s s (CPU %s s)\n' "$name" "$seconds" "$cpu" >&2
}

steps_summary() {
  {
    echo "ci: step times in seconds"
    printf 'ci:   %7s %7s  %s\n' wall CPU step
    awk -F '\t' '$1 == "end" { printf "ci:   %7s %7s  %s\n", $2, $3, $4 }' "$steps_file"
    awk -F '\t' '$1 == "start" { started[$2] = 1 } $1 == "end" { delete started[$4] }
                 END { for (name in started) print "ci:   failed in: " name }' "$steps_file"
    printf 'ci:   %7s %7s  in all\n' "$(steps_since "$steps_start")" "$(steps_children_cpu $$)"
  } >&2
  rm -f "$steps_file"
}
