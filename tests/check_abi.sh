#!/usr/bin/env bash
# Checks the built library file: it exports exactly the nine procedures (no
# other symbol, none mangled), needs nothing at run time but libc and libm,
# runs no code at load time and needs no GLIBC version above 2.17.
set -euo pipefail
lib=$1
fail=0

expected="SU55IF_ACTYP SU55IF_CHKST SU55IF_DEFST SU55IF_IACTYP SU55IF_IINTTIM SU55IF_INTTIM SU55IF_PFNRSWTCH SU55IF_REPTIM SU55IF_UPSTGTIM"
exported=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort | tr '\n' ' ' | sed 's/ $//')
if [ "$exported" != "$expected" ]; then
  echo "exported symbols differ"
  echo "  expected: $expected"
  echo "  found:    $exported"
  fail=1
fi

needed=$(readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | tr '\n' ' ')
for lib_needed in $needed; do
  case "$lib_needed" in
    libc.so.*|libm.so.*) ;;
    *) echo "unexpected run-time dependency: $lib_needed"; fail=1 ;;
  esac
done

# No C++ runtime, exceptions or RTTI: no undefined symbol of the C++ ABI
# (__cxa_finalize is libc's own, used by every shared object).
cxx=$(nm -D --undefined-only "$lib" | awk '{print $2}' | grep -E '^_Z|__cxa_|__gxx_|_Unwind_' | grep -v '^__cxa_finalize' || true)
if [ -n "$cxx" ]; then
  echo "C++ runtime symbols needed: $cxx"
  fail=1
fi

# No code that runs at load time: the toolchain's own .init_array holds one
# entry (frame_dummy); any more would be a static constructor.
init_bytes=$(readelf -S -W "$lib" | awk '$2==".init_array" {print $6}')
if [ -n "$init_bytes" ] && [ "$((16#$init_bytes))" -gt 8 ]; then
  echo "static constructors present (.init_array holds $((16#$init_bytes / 8)) entries)"
  fail=1
fi

# Loads on distributions older than the build machine: no symbol may need a
# GLIBC version above 2.17.
newer=$(objdump -T "$lib" | awk '{
  for (i = 1; i <= NF; i++) if ($i ~ /^\(?GLIBC_[0-9.]+\)?$/) {
    version = $i; gsub(/[()]|GLIBC_/, "", version); print version, $NF
  }
}' | while read -r version symbol; do
  if [ "$(printf '%s\n%s\n' "$version" 2.17 | sort -V | tail -n 1)" != 2.17 ]; then
    echo "$symbol@GLIBC_$version"
  fi
done)
if [ -n "$newer" ]; then
  echo "symbols need a GLIBC above 2.17:" $newer
  fail=1
fi

[ "$fail" -eq 0 ] && echo "library file OK: $lib"
exit "$fail"
