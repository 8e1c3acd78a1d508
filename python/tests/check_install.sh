#!/usr/bin/env bash
# Installs the package offline into a fresh virtual environment, as
# docs/python.md says, then runs the three-line example there on the built
# library. The package is built from a copy of what it takes from the
# checkout, so that pip leaves nothing in the source tree.
#   check_install.sh PYTHON LIBRARY WORK_DIRECTORY
set -euo pipefail
python=$1 library=$2 work=$3
checkout=$(cd "$(dirname "$0")/../.." && pwd)

rm -rf "$work"
mkdir -p "$work/checkout/include"
cp -r "$checkout/python" "$work/checkout/python"
cp "$checkout/CMakeLists.txt" "$work/checkout/"
cp "$checkout/include/su55if_procedures.json" "$work/checkout/include/"

"$python" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/python3" -m pip install --quiet --no-index "$work/checkout/python"

cd "$work"
got=$(SU55IF_LIBRARY=$library "$work/venv/bin/python3" -c \
  'import su55if; print(su55if.load().define_stages(requested=[10,20,30], time=0.0))')
expected='Schedule(durations=(10.0, 20.0, 30.0), stage_duration=10.0, next_duration=20.0, elapsed=0.0, cycle_duration=60.0)'
if [ "$got" != "$expected" ]; then
  echo "check_install.sh: expected $expected"
  echo "check_install.sh: got      $got"
  exit 1
fi
# Its version is its metadata's, the library's own.
SU55IF_LIBRARY=$library "$work/venv/bin/python3" -c \
  'import su55if, sys; sys.exit(su55if.__version__ != su55if._files.library_version(su55if.find_library()))' ||
  { echo "check_install.sh: su55if.__version__ is not the library's version"; exit 1; }
# The installed package reads the description it carries.
"$work/venv/bin/python3" -c 'import su55if._description as d, sys; sys.exit(d.find_description() != d.PACKAGE_DIR / "procedures.json")'
echo "check_install.sh: installed offline; the example prints $got"
