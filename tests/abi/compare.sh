#!/usr/bin/env bash
# Compares a built libsu55if.so with the ABI baseline beside this script
# (su55if.abi, written by abidw from Debian's abigail-tools): any change to
# the exported procedures, their argument types, the exports themselves or
# the SONAME fails, with abidiff's report.
#   tests/abi/compare.sh build/default/src/libsu55if.so
#   tests/abi/compare.sh build/default/src/libsu55if.so --update
# --update rewrites the baseline: only for an intended change of the ABI,
# which comes with a new major version (CHANGELOG.md).
# The library must carry debug information (the default preset's
# RelWithDebInfo build does).
set -euo pipefail
lib=${1:?usage: tests/abi/compare.sh LIBRARY [--update]}
here=$(cd "$(dirname "$0")" && pwd)
baseline=$here/su55if.abi
include=$here/../../include
build_include=$(dirname "$(realpath "$lib")")/../include

# Only the types of the public headers count; paths are left out, so the
# file is the same from any checkout.
abidw_options=(--no-corpus-path --no-comp-dir-path --no-show-locs --drop-private-types
               --headers-dir "$include" --headers-dir "$build_include")

if [ "${2:-}" = "--update" ]; then
  abidw "${abidw_options[@]}" "$lib" > "$baseline"
  echo "wrote $baseline"
  exit 0
fi

current=$(mktemp)
trap 'rm -f "$current"' EXIT
abidw "${abidw_options[@]}" "$lib" > "$current"
status=0
abidiff --no-show-locs "$baseline" "$current" || status=$?
if [ "$status" -ne 0 ]; then
  echo "ABI of $lib differs from the baseline $baseline (abidiff exit status $status)." >&2
  echo "If the change is intended, raise the major version and run: $0 $lib --update" >&2
  exit 1
fi
echo "ABI of $lib matches the baseline"
