#!/usr/bin/env bash
# ABI check of libvekcommon.so.1 with libabigail (abigail-tools).
#
#   scripts/abi-check.sh BUILD_DIR
#       compares the build's libvekcommon.so.1 with the kept baseline
#       abi/libvekcommon-<arch>.abi (arch x86_64 or armhf, read from the
#       library) and prints abidiff's report. Fails on any ABI change of the
#       public interface: a public struct's layout, a removed or changed
#       function or variable. Added symbols are not reported (the export list
#       is checked by scripts/check-exports.sh).
#   scripts/abi-check.sh --update BUILD_DIR
#       regenerates that baseline from the build, for a deliberate change.
#       Rule: a change that the check rejects breaks existing programs, so it
#       ships only with a new SONAME major (libvekcommon.so.2, package
#       libvekcommon2) and a new baseline; within libvekcommon.so.1 the check
#       must pass against the baseline of version 1.0.0.
#   scripts/abi-check.sh --self-test BUILD_DIR
#       builds a copy of the sources in which one public struct (vek_map_s)
#       has one more field and expects the check to reject it.
# The library must carry debug information (the default RelWithDebInfo build).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
mode=check
case "${1:-}" in
  --update) mode=update; shift ;;
  --self-test) mode=self-test; shift ;;
esac
[ $# -eq 1 ] || { echo "usage: $0 [--update|--self-test] BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)

lib=$build/src/libvekcommon.so.1
headers=$build/generated/include/vek
[ -e "$lib" ] || { echo "no $lib: build the vekcommon target first" >&2; exit 2; }
case "$(readelf -h "$lib" | sed -n 's/^ *Machine: *//p')" in
  *X86-64*) arch=x86_64 ;;
  ARM) arch=armhf ;;
  *) echo "no ABI baseline for this machine: $(readelf -h "$lib" | grep Machine)" >&2; exit 2 ;;
esac
baseline=$src/abi/libvekcommon-$arch.abi
suppr=()
[ -f "$src/abi/suppressions.txt" ] && suppr=(--suppressions "$src/abi/suppressions.txt")

case $mode in
update)
  abidw --headers-dir "$headers" --drop-private-types --no-corpus-path --no-comp-dir-path \
    --short-locs --out-file "$baseline" "$lib"
  echo "baseline written: abi/libvekcommon-$arch.abi"
  ;;
check)
  [ -f "$baseline" ] || { echo "no baseline abi/libvekcommon-$arch.abi (scripts/abi-check.sh --update)" >&2; exit 2; }
  set +e
  report=$(abidiff --no-added-syms "${suppr[@]}" --headers-dir2 "$headers" --drop-private-types \
    "$baseline" "$lib" 2>&1)
  rc=$?
  set -e
  if [ $rc -ne 0 ]; then
    echo "$report"
    echo "ABI check FAILED ($arch, abidiff status $rc): libvekcommon.so.1 differs from abi/libvekcommon-$arch.abi."
    echo "An incompatible change needs a new SONAME major; see scripts/abi-check.sh."
    exit 1
  fi
  echo "ABI check passed ($arch): libvekcommon.so.1 matches abi/libvekcommon-$arch.abi"
  ;;
self-test)
  work=$build/abi-self-test
  rm -rf "$work"
  mkdir -p "$work/src"
  (cd "$src" && tar --exclude='./build*' --exclude=./.git --exclude=./out -cf - .) | tar -xf - -C "$work/src"
  python3 - "$work/src/include/vek/vek_map.h" <<'PY'
import sys
p = sys.argv[1]
s = open(p).read()
import re
# The last field of struct vek_map_s, whatever comment follows it.
pat = re.compile(r"(struct vek_map_s \{.*?vek_map_value_t \*\*values;[^\n]*\n)(\};)", re.S)
assert pat.search(s), "vek_map_s not found"
open(p, "w").write(pat.sub(lambda m: m.group(1) + "    uint32_t extra;\n" + m.group(2), s, count=1))
PY
  cache=$build/CMakeCache.txt
  args=(-DBUILD_TESTING=OFF -DVEK_WERROR=ON)
  tc=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$cache")
  [ -n "$tc" ] && args+=(-DCMAKE_TOOLCHAIN_FILE="$tc")
  cmake -S "$work/src" -B "$work/build" "${args[@]}" > /dev/null
  cmake --build "$work/build" --target vekcommon -j2 > /dev/null
  if out=$(bash "$0" "$work/build" 2>&1); then
    echo "$out"
    echo "ABI self-test FAILED: a changed vek_map_s was not caught"
    exit 1
  fi
  echo "$out"
  grep -q "vek_map_s" <<< "$out" || { echo "ABI self-test FAILED: the report does not name vek_map_s"; exit 1; }
  rm -rf "$work"
  echo "ABI self-test passed: the changed vek_map_s was caught"
  ;;
esac
