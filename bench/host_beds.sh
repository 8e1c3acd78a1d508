#!/usr/bin/env bash
# check --beds on a large cycle: 100 stages of 10 (a cycle of 1000), stage k
# linked to stage k + 50 (50 links, each 5 shifts in 10 beds), checked as
# 10 beds. Times the whole process with farm-bench (the median of the
# figures is the one to quote), against the same check without --beds, so
# that what the beds add shows apart from starting the host and loading the
# library. Not a test: the figures depend on the machine and its load.
#   bench/host_beds.sh build/default/tools/su55if-host [RUNS]
set -euo pipefail
host=$(realpath "${1:?usage: bench/host_beds.sh PATH/TO/su55if-host [RUNS]}")
runs=${2:-30}
command -v farm-bench >/dev/null || { echo "host_beds.sh: needs farm-bench" >&2; exit 2; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cycle=$scratch/hundred.csv
awk 'BEGIN {
  print "stage,duration,partner,name"
  for (k = 1; k <= 100; ++k) printf "%d,10,%d,stage number %d\n", k, k <= 50 ? k + 50 : k - 50, k
}' > "$cycle"
"$host" -q check "$cycle" --beds 10 | grep -q "^Beds: the links fit" || { echo "host_beds.sh: no beds report" >&2; exit 1; }

farm-bench -n "$runs" --vs "$host -q check $cycle" -- "$host" -q check "$cycle" --beds 10
farm-bench -n "$runs" --vs "$host -q check $cycle --format json" -- "$host" -q check "$cycle" --beds 10 --format json
