#!/usr/bin/env bash
# Runs the host's end-to-end tests (Linux programs) against su55if-host.exe
# under Wine, leaving out the tests listed in windows_host_skips.txt.
# Usage: run_windows_host.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR
set -euo pipefail
linux=$(realpath "$1") windows=$(realpath "$2")
here=$(dirname "$0")
export SU55IF_TEST_HOST="$windows/wine-run $windows/tools/su55if-host.exe"
export SU55IF_TEST_LIBRARY="$windows/src/su55if.dll"
# (wine-run keeps one Wine server for all the tests' processes.)
skips=$(sed -e 's/#.*//' -e 's/[[:space:]]//g' -e '/^$/d' "$here/windows_host_skips.txt" | paste -sd: -)
for test in test_host_e2e test_host_outputs test_host_workbench; do
  "$linux/tests/host/$test" --gtest_brief=1 --gtest_filter="-$skips"
done
