#!/usr/bin/env bash
# What the .tar.gz that cpack makes holds: the library with its links, the
# headers, the CMake and pkg-config files, the host and its manual page, the
# procedure description and the documentation.
#   tests/packages/tarball.sh BUILD_DIR VERSION
set -euo pipefail
build=${1:?usage: tests/packages/tarball.sh BUILD_DIR VERSION}
version=${2:?usage: tests/packages/tarball.sh BUILD_DIR VERSION}

tgz="$build"/packages/su55if-$version-Linux.tar.gz
contents=$(tar -tvzf "$tgz" | awk '{print $6 ($7 ? " " $7 " " $8 : "")}' | sed 's|^su55if-[^/]*/||')
echo "$contents"
for path in "lib/libsu55if.so.$version" "lib/libsu55if.so.${version%%.*} -> libsu55if.so.$version" \
            "lib/libsu55if.so -> libsu55if.so.${version%%.*}" include/su55if.h include/su55if_version.h \
            lib/cmake/su55if/su55ifConfig.cmake lib/pkgconfig/su55if.pc bin/su55if-host \
            share/man/man1/su55if-host.1 share/su55if/procedures.json share/doc/su55if/LICENSE \
            share/doc/su55if/docs/host.md; do
  grep -qxF "$path" <<<"$contents" || { echo "$tgz lacks $path" >&2; exit 1; }
done
