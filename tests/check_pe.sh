#!/usr/bin/env bash
# Checks the built Windows DLL: its export table holds exactly the nine
# procedures under their plain names, its import table names only DLLs that
# come with Windows (no MinGW runtime DLL), and its import library refers to
# the same nine procedures.
# Usage: check_pe.sh OBJDUMP NM DLL IMPORT_LIBRARY
set -euo pipefail
objdump=$1 nm=$2 dll=$3 implib=$4
fail=0

expected="SU55IF_ACTYP SU55IF_CHKST SU55IF_DEFST SU55IF_IACTYP SU55IF_IINTTIM SU55IF_INTTIM SU55IF_PFNRSWTCH SU55IF_REPTIM SU55IF_UPSTGTIM"
headers=$("$objdump" -p "$dll")

# The name pointer table lists every exported name, one "[ n] NAME" line each.
exported=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on=1; next}
                on && /^[[:space:]]*\[ *[0-9]+\]/ {print $NF; next}
                on {exit}' <<<"$headers" | sort | tr '\n' ' ' | sed 's/ $//')
if [ "$exported" != "$expected" ]; then
  echo "exported names differ"
  echo "  expected: $expected"
  echo "  found:    $exported"
  fail=1
fi

# Every imported DLL must be part of Windows: the kernel and the system C
# runtime (msvcrt.dll, or the universal C runtime and its API sets).
imported=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | sort -u)
if [ -z "$imported" ]; then
  echo "no import table found"
  fail=1
fi
for name in $imported; do
  case "${name,,}" in
    kernel32.dll|msvcrt.dll|ucrtbase.dll|api-ms-win-crt-*.dll) ;;
    *) echo "imports a DLL that is not part of Windows: $name"; fail=1 ;;
  esac
done

# The import library defines one __imp_ pointer per procedure and nothing else.
implib_names=$("$nm" -g --defined-only "$implib" | awk '$3 ~ /^__imp_/ {sub(/^__imp_/, "", $3); print $3}' |
               sort -u | tr '\n' ' ' | sed 's/ $//')
if [ "$implib_names" != "$expected" ]; then
  echo "import library names differ"
  echo "  expected: $expected"
  echo "  found:    $implib_names"
  fail=1
fi

[ "$fail" -eq 0 ] && echo "DLL OK: $dll imports $(echo $imported)"
exit "$fail"
