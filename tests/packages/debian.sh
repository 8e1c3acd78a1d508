#!/usr/bin/env bash
# Debian's packages of su55if, built from debian/ and tried as a user gets
# them, on this machine (as root, as CI runs it):
#   tests/packages/debian.sh [OUTPUT_DIR]
# 1. dpkg-buildpackage -b on a copy of the checkout, in build/debian-* (the
#    rest of the checkout is not written to); the .deb files are kept in
#    OUTPUT_DIR when one is given;
# 2. lintian on each package: any error or warning fails;
# 3. any earlier install of them (or of the former single su55if package) is
#    purged, then apt-get installs the five;
# 4. the consumer project builds against /usr with find_package and
#    pkg-config, su55if-host runs its built-in example, and the Python package
#    loads the library, with the -dev package and again without it; the
#    designer's page is in place;
# 5. apt-get purge of the five leaves none of their files behind.
set -euo pipefail
checkout=$(cd "$(dirname "$0")/../.." && pwd)
output=${1:-}
packages=(libsu55if0 libsu55if-dev su55if-tools python3-su55if su55if-designer)
# Where each piece must be: the Debian multiarch folder of this machine.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
soname_file=/usr/lib/$multiarch/libsu55if.so.0
fail() { echo "debian.sh: $*" >&2; exit 1; }

# Under the checkout's build/, beside the other builds: a compiler cache
# whose base is the checkout finds the copy's files where it found the
# checkout's.
mkdir -p "$checkout/build"
work=$(mktemp -d "$checkout/build/debian-XXXXXX")
trap 'rm -rf "$work"' EXIT
version=$(dpkg-parsechangelog -l "$checkout/debian/changelog" -S Version)
source_dir=$work/su55if-${version%-*}

echo "debian.sh: building $version in $source_dir"
mkdir "$source_dir"
# The checkout's files as git sees them (committed, changed and new, not the
# ignored build trees).
(cd "$checkout" && git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
  tar --null -T - -cf -) | tar -xf - -C "$source_dir"
# Without the tests (CI runs them on its own build) and so without their
# build dependencies; on two cores at most.
if ! (cd "$source_dir" && DEB_BUILD_OPTIONS="parallel=2 nocheck ${DEB_BUILD_OPTIONS:-}" \
      DEB_BUILD_PROFILES="nocheck ${DEB_BUILD_PROFILES:-}" dpkg-buildpackage -us -uc -b) >"$work/build.log" 2>&1; then
  tail -n 60 "$work/build.log" >&2
  fail "dpkg-buildpackage failed (the last lines of its output are above)"
fi
# The build tree goes: the installed host must not find the library there.
rm -rf "$source_dir"
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
debs=()
for package in "${packages[@]}"; do
  # This machine's architecture, or all.
  deb=$work/${package}_${version}_${arch}.deb
  [ -f "$deb" ] || deb=$work/${package}_${version}_all.deb
  [ -f "$deb" ] || fail "dpkg-buildpackage made no ${package}_${version}_${arch}.deb nor _all.deb"
  debs+=("$deb")
done
[ -z "$output" ] || { mkdir -p "$output" && cp "${debs[@]}" "$output/"; }

for deb in "${debs[@]}"; do
  echo "debian.sh: $(basename "$deb")"
  dpkg-deb --info "$deb" | sed -n '/^ Package:/,$p'
  dpkg-deb --contents "$deb" | awk '{print "   " $6 ($7 ? " " $7 " " $8 : "")}'
done

echo "debian.sh: lintian"
status=0
lintian_output=$(lintian --fail-on error,warning --tag-display-limit 0 "${debs[@]}" 2>&1) || status=$?
lintian_output=$(grep -v '^running with root privileges' <<<"$lintian_output" || true)
echo "${lintian_output:-(nothing to report)}"
if [ "$status" -ne 0 ] || grep -E '^[EW]: ' <<<"$lintian_output" >/dev/null; then
  fail "lintian reports errors or warnings, or did not run (exit $status)"
fi

# Earlier installs: these packages, and the single package that cpack made
# before them.
installed() { dpkg-query -W -f='${db:Status-Status}\n' "$1" 2>/dev/null | grep -qvx not-installed; }
earlier=()
for package in "${packages[@]}" su55if; do installed "$package" && earlier+=("$package"); done
if [ "${#earlier[@]}" -gt 0 ]; then
  echo "debian.sh: purging the earlier install of ${earlier[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -q "${earlier[@]}" >/dev/null
fi
# What was there before, to tell after the purge what the packages left.
find /usr /etc /var/lib/dpkg/info -xdev 2>/dev/null | sort >"$work/before.txt"

echo "debian.sh: apt-get install ${debs[*]##*/}"
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${debs[@]}" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "apt-get install failed"; }
for package in "${packages[@]}"; do dpkg -L "$package"; done | sort -u >"$work/installed.txt"
grep -xF "$soname_file" "$work/installed.txt" >/dev/null || fail "no $soname_file installed"
grep -xF /usr/share/su55if/designer/index.html "$work/installed.txt" >/dev/null || fail "no designer page installed"
# (The cache may name it under /lib, a link to /usr/lib.)
ldconfig -p | grep -E "^[[:space:]]+libsu55if\.so\.0 \(" >/dev/null || fail "the loader's cache lacks libsu55if.so.0"

echo "debian.sh: the consumer project against /usr"
"$checkout/tests/consumer/run.sh" /usr

# Run from an empty folder with none of this project's variables, so that
# nothing but the installed files is found.
cd "$work"
clean_env=(env -u SU55IF_LIBRARY -u SU55IF_HOST -u PYTHONPATH -u LD_LIBRARY_PATH)
check_use() {
  echo "debian.sh: su55if-host and python3-su55if, $1"
  local log
  log=$("${clean_env[@]}" su55if-host --log-calls 2>&1 >"$work/example.txt") ||
    { echo "$log" >&2; fail "su55if-host failed on its built-in example"; }
  grep -F "Timeline from 0 to 160" "$work/example.txt" >/dev/null || fail "su55if-host printed no timeline"
  # The installed library, by the file's real name.
  grep -xF "su55if-host: loaded $2" <<<"$log" >/dev/null ||
    fail "su55if-host loaded $(sed -n 's/^su55if-host: loaded //p' <<<"$log"), not $2"
  local found
  found=$("${clean_env[@]}" /usr/bin/python3 -c '
import su55if
library = su55if.load()
print(su55if.__file__, su55if.find_library(), su55if.find_host(), sep="\n")
print(library.define_stages(requested=[10, 20, 30], time=0.0).cycle_duration)
print(su55if.__version__ == su55if._files.library_version(su55if.find_library()))
# An installed example, read and run through the installed host.
cycle = su55if.read_cycle("/usr/share/doc/su55if-tools/examples/four-stage.csv")
print(len(cycle.run().to_csv().splitlines()) > 1)')
  echo "$found"
  [ "$found" = "$(printf '%s\n' /usr/lib/python3/dist-packages/su55if/__init__.py \
    "$(realpath "$soname_file")" /usr/bin/su55if-host 60.0 True True)" ] || fail "python3-su55if did not load the installed files"
}
check_use "with libsu55if-dev" "/usr/bin/../lib/$multiarch/libsu55if.so.0"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -q libsu55if-dev >/dev/null
check_use "without libsu55if-dev" "/usr/bin/../lib/$multiarch/libsu55if.so.0"

# (apt-get knows the removed -dev package no more: purge what is installed.)
remaining=()
for package in "${packages[@]}"; do installed "$package" && remaining+=("$package"); done
echo "debian.sh: apt-get purge ${remaining[*]}"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -q "${remaining[@]}" >/dev/null
for package in "${packages[@]}"; do ! installed "$package" || fail "$package is still installed"; done
# Every file and folder the packages held is gone, unless it was there
# before (shared folders such as /usr/lib); and nothing named after su55if
# is left where there was none.
left=$(comm -23 "$work/installed.txt" "$work/before.txt" | { grep -vx '/\.' || true; } | while read -r path; do
  [ ! -e "$path" ] && [ ! -L "$path" ] || echo "$path"; done)
find /usr /etc /var/lib/dpkg/info -xdev 2>/dev/null | sort >"$work/after.txt"
left+=$(comm -13 "$work/before.txt" "$work/after.txt" | grep -F su55if || true)
[ -z "$left" ] || fail "the purge left: $left"
if dpkg -S su55if >/dev/null 2>&1; then fail "dpkg -S still finds su55if files: $(dpkg -S su55if)"; fi
echo "debian.sh: built, lintian-clean, installed, used and purged: ${packages[*]}"
