#!/usr/bin/env bash
# The host's memory against its budgets: peak resident memory (from
# /usr/bin/time -v) of a long run with a chart, and of a run with a large
# input file, each of which the host streams. Exits 1 when a run goes over.
#   bench/host_memory.sh build/default/tools/su55if-host
set -euo pipefail
host=$(realpath "${1:?usage: bench/host_memory.sh PATH/TO/su55if-host}")
[ -x /usr/bin/time ] || { echo "host_memory.sh: needs /usr/bin/time (Debian package time)" >&2; exit 2; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

# Two linked stages; 8,000,000 samples every 0.5, with the chart.
printf 'stage,duration,partner\n1,1,2\n2,1,1\n' > two.csv
# 38 stages and an input file of 300,000 rows of 45 columns.
{ echo "stage,duration"; for k in $(seq 1 38); do echo "$k,$((k % 7 + 1))"; done; } > stages.csv
awk 'BEGIN {
  printf "time,hold,check,signal,value,limit,enable"; for (k = 1; k <= 38; ++k) printf ",duration%d", k; print ""
  for (i = 0; i < 300000; ++i) {
    printf "%d,0,1,%d,%d,5,1", i, i % 2, i % 10; for (k = 1; k <= 38; ++k) printf ",%d", (i + k) % 7 + 1; print ""
  }
}' > inputs.csv

failed=0
measure() {  # NAME BUDGET_MB ARGS...
  local name=$1 budget=$2
  shift 2
  /usr/bin/time -v -o time.txt "$host" --quiet "$@" > /dev/null
  local peak
  peak=$(awk -F': ' '/Maximum resident set size/ { printf "%.1f", $2 / 1024 }' time.txt)
  printf '%-44s %8s MB (budget %s MB)\n' "$name" "$peak" "$budget"
  awk -v peak="$peak" -v budget="$budget" 'BEGIN { exit !(peak < budget) }' || failed=1
}
measure "8,000,000 samples with --chart" 60 run two.csv --stop-time 3999999.5 --output-interval 0.5 \
  --output-file /dev/null --chart chart.svg
measure "input file of 300,000 rows x 45 columns" 40 run stages.csv --input-file inputs.csv --stop-time 299999 \
  --output-interval 1 --output-file /dev/null
exit "$failed"
