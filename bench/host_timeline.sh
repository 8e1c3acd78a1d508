#!/usr/bin/env bash
# The host's streaming timeline: the CSV of the four-stage example written
# to a file, for 2,000,000 and 20,000,000 samples. Prints samples per second
# and peak resident memory (from /usr/bin/time -v) for each. Not a test:
# the figures depend on the machine and its load.
#   bench/host_timeline.sh build/default/tools/su55if-host [SAMPLES...]
set -euo pipefail
host=$(realpath "${1:?usage: bench/host_timeline.sh PATH/TO/su55if-host [SAMPLES...]}")
shift
cycle=$(realpath "$(dirname "$0")/../examples/four-stage.csv")
[ -x /usr/bin/time ] || { echo "host_timeline.sh: needs /usr/bin/time (Debian package time)" >&2; exit 2; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

printf '%12s %14s %12s %14s\n' samples seconds samples/s "peak RSS (MB)"
for samples in "${@:-2000000 20000000}"; do
  for n in $samples; do
    # Every 0.5 from 0: n samples end at (n - 1) / 2.
    stop=$(( (n - 1) / 2 )).$(( (n - 1) % 2 * 5 ))
    /usr/bin/time -v -o "$scratch/time" "$host" --quiet run "$cycle" --stop-time "$stop" \
      --output-interval 0.5 --output-file "$scratch/out.csv"
    written=$(( $(wc -l < "$scratch/out.csv") - 1 ))
    [ "$written" -eq "$n" ] || { echo "host_timeline.sh: $written samples written, not $n" >&2; exit 1; }
    awk -v n="$n" -F': ' '
      /Elapsed \(wall clock\)/ { split($2, t, ":"); s = 0; for (i = 1; i <= length(t); ++i) s = s * 60 + t[i] }
      /Maximum resident set size/ { rss = $2 / 1024 }
      END { printf "%12d %14.2f %12.0f %14.1f\n", n, s, n / s, rss }' "$scratch/time"
  done
done
