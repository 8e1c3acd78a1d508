#!/usr/bin/env bash
# What the Windows build delivers: the DLL's version resource, the import
# library's nine procedures, the .zip's contents, and a su55if-host.exe that
# imports Windows' own DLLs only (linked statically: no MinGW runtime DLL).
#   tests/packages/windows.sh BUILD_DIR VERSION
set -euo pipefail
build=${1:?usage: tests/packages/windows.sh BUILD_DIR VERSION}
version=${2:?usage: tests/packages/windows.sh BUILD_DIR VERSION}

x86_64-w64-mingw32-windres -i "$build"/src/su55if.dll -J coff -O rc | grep -F "VALUE \"FileVersion\", \"$version\"" >/dev/null ||
  { echo "su55if.dll has no version resource $version" >&2; exit 1; }
zip="$build"/packages/su55if-$version-win64.zip
# su55if.lib, for Microsoft's linker: an import of each of the nine procedures.
imports=$(llvm-nm "$build"/src/su55if.lib | grep -c ' __imp_SU55IF_')
[ "$imports" -eq 9 ] || { echo "su55if.lib imports $imports procedures, not 9" >&2; exit 1; }
zip_contents=$(cmake -E tar tf "$zip")
echo "$zip_contents"
for path in bin/su55if.dll bin/su55if-host.exe lib/su55if.lib lib/su55if.dll.a lib/su55if.def include/su55if.h \
            include/su55if_version.h share/su55if/procedures.json share/doc/su55if/README.md \
            share/doc/su55if/docs/procedures.md share/doc/su55if/docs/platforms.md \
            share/doc/su55if/examples/four-stage.csv share/su55if/designer/index.html \
            share/su55if/designer/worker-source.js; do
  grep -q "/$path\$" <<<"$zip_contents" || { echo "$zip lacks $path" >&2; exit 1; }
done
# su55if-host.exe: Windows' own DLLs only.
host_imports=$(x86_64-w64-mingw32-objdump -p "$build"/tools/su55if-host.exe | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$host_imports" ] || { echo "su55if-host.exe: no import table found" >&2; exit 1; }
for name in $host_imports; do
  case "${name,,}" in
    kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll|ucrtbase.dll|api-ms-win-*.dll) ;;
    *) echo "su55if-host.exe imports a DLL that is not part of Windows: $name" >&2; exit 1 ;;
  esac
done
