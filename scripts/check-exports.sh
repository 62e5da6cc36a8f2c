#!/usr/bin/env bash
# Compares the dynamic symbols defined by libvekcommon.so and libVekSalIf.so
# in LIBDIR with the names of the version scripts: nothing more, nothing less
# (the stand-in may add test controls named vek_saltest_*).
set -euo pipefail
libdir=$1
src=${2:-$(cd "$(dirname "$0")/.." && pwd)}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

names() { sed -n 's/^ *\([A-Za-z_][A-Za-z0-9_]*\);$/\1/p' "$1" | sort; }
exported() { nm -D --defined-only "$1" | awk '{print $NF}' | grep -v '^_\(init\|fini\)$' | sort -u; }

names "$src/src/vekcommon.map" > "$work/want"
exported "$libdir/libvekcommon.so" > "$work/have"
if ! diff -u "$work/want" "$work/have"; then
  echo "libvekcommon.so exports differ from the interface (- missing, + extra)"
  exit 1
fi
[ "$(wc -l < "$work/want")" -eq 139 ] || { echo "interface list must hold 139 names"; exit 1; }

if [ ! -e "$libdir/libVekSalIf.so" ] && [ "${VEK_PLATFORM:-standin}" = external ]; then
  echo "exports match: $(wc -l < "$work/have") in libvekcommon (external platform library not checked)"
  exit 0
fi
names "$src/platform/VekSalIf.map" > "$work/want_sal"
exported "$libdir/libVekSalIf.so" | grep -v '^vek_saltest_' > "$work/have_sal"
if ! diff -u "$work/want_sal" "$work/have_sal"; then
  echo "libVekSalIf.so exports differ from the platform interface"
  exit 1
fi
echo "exports match: $(wc -l < "$work/have") in libvekcommon, $(wc -l < "$work/have_sal") in libVekSalIf"
