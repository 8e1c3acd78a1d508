#!/usr/bin/env bash
# Runs the Linux host and su55if-host.exe (under Wine) on the same cycles
# with the same options, and compares what they write byte for byte: CSV for
# every example (the options of docs/host.md's Examples table) and for a
# 100-stage cycle, JSON lines and the SVG chart for one of them, and the exit
# codes.
# Usage: compare_hosts.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR
set -euo pipefail
linux_host=$(realpath "$1")/tools/su55if-host
windows=$(realpath "$2")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# A copy of the examples, where both hosts run and write their files.
cp -r "$(dirname "$0")/../../examples" "$scratch/examples"
examples=$scratch/examples

# 100 stages of 1 to 23 time units; stage k and k + 50 linked (positively
# for odd k, negatively for even k) for k up to 20, with the same duration.
{
  echo "stage,duration,partner"
  for k in $(seq 1 100); do
    base=$(( k > 50 ? k - 50 : k ))
    duration=$(( base * 7 % 23 + 1 ))
    partner=0
    if [ "$base" -le 20 ]; then
      partner=$(( k > 50 ? k - 50 : k + 50 ))
      [ $(( base % 2 )) -eq 0 ] && partner=-$partner
    fi
    echo "$k,$duration,$partner"
  done
} > "$scratch/hundred.csv"

fail=0
# compare NAME FILE ARGS...: FILE is what each host writes with --output-file
# or --chart (empty: standard output).
compare() {
  local name=$1 file=$2
  shift 2
  local status_linux=0 status_windows=0
  (cd "$examples" && "$linux_host" "$@" > "$scratch/linux.out" 2> /dev/null) || status_linux=$?
  [ -z "$file" ] || mv "$examples/$file" "$scratch/linux.out"
  (cd "$examples" && "$windows/wine-run" "$windows/tools/su55if-host.exe" "$@" > "$scratch/windows.out" 2> /dev/null) ||
    status_windows=$?
  [ -z "$file" ] || mv "$examples/$file" "$scratch/windows.out"
  if [ "$status_linux" -ne "$status_windows" ]; then
    echo "$name: exit $status_linux on Linux, $status_windows on Windows"
    fail=1
  elif ! cmp -s "$scratch/linux.out" "$scratch/windows.out"; then
    echo "$name: the outputs differ"
    cmp "$scratch/linux.out" "$scratch/windows.out" || true
    fail=1
  else
    echo "$name: the same ($(wc -c < "$scratch/linux.out") bytes, exit $status_linux)"
  fi
}

compare four-stage "" run four-stage.csv
compare negative-links "" run negative-links.csv
compare faulty "" run faulty.csv
compare what-if "" run what-if.csv --input-file what-if-inputs.csv --events what-if-events.csv --stop-time 400 \
  --output-interval 2.5
compare hundred-stage "" run "$scratch/hundred.csv" --stop-time 20000
compare hundred-stage-file hundred-out.csv run "$scratch/hundred.csv" --stop-time 20000 --output-file hundred-out.csv
compare what-if-json "" run what-if.csv --input-file what-if-inputs.csv --events what-if-events.csv --format json
compare what-if-chart what-if-chart.svg run what-if.csv --input-file what-if-inputs.csv --events what-if-events.csv \
  --chart what-if-chart.svg --output-file /dev/null
compare faulty-check "" check faulty.csv
compare faulty-check-json "" check faulty.csv --format json
exit $fail
