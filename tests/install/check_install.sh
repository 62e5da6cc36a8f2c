#!/usr/bin/env bash
# Checks an installed tree two ways:
# 1. installs the build tree into a scratch prefix, checks the exported
#    symbols of both libraries against the version scripts, then builds and
#    runs a C99 program with pkg-config and a C++ program with find_package
#    against it, after moving the tree to prove it relocatable;
# 2. configures the sources as a Debian packaging helper does (prefix /usr,
#    multiarch libdir lib/<triplet>), installs the library's components
#    with DESTDIR and builds and runs both programs against DESTDIR/usr.
# Cross builds set VEK_EMULATOR (the command that runs target programs, e.g.
# "qemu-arm -L /usr/arm-linux-gnueabihf") and VEK_TOOLCHAIN_FILE. Built
# against an external platform library, VEK_PLATFORM=external and
# VEK_SALIF_LIBRARY name it; it is neither installed nor checked here.
# VEK_DOCS=1 says the build made the reference: the default install of step
# 1 then carries it, and man finds its pages through MANPATH. VEK_WERROR
# is the build's own setting, used for the scratch build of step 2.
set -euo pipefail
build=$1
src=$2
cc=$3
cxx=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
read -r -a emu <<< "${VEK_EMULATOR:-}"
run() { "${emu[@]}" "$@"; }
platform=${VEK_PLATFORM:-standin}
salif_dir=""
if [ "$platform" = external ]; then
  salif_dir=$(dirname "$VEK_SALIF_LIBRARY")
fi

# check_tree PREFIX LIBDIR: layout, exports and both consumers.
check_tree() {
  local P=$1 libdir=$2 L=$1/$2
  bash "$src/scripts/check-exports.sh" "$L" "$src"
  local files="include/vek/vekcommon.h $libdir/libvekcommon.so.1.0.0 $libdir/libvekcommon.so.1
    $libdir/libvekcommon.so $libdir/pkgconfig/vekcommon.pc
    $libdir/cmake/vekcommon/vekcommonConfig.cmake $libdir/cmake/vekcommon/vekcommonConfigVersion.cmake"
  if [ "$platform" = standin ]; then
    files+=" $libdir/libVekSalIf.so.1.0.0 $libdir/libVekSalIf.so.1 $libdir/libVekSalIf.so include/vek_saltest.h"
  fi
  for f in $files; do
    [ -e "$P/$f" ] || { echo "missing $f"; exit 1; }
  done
  [ "$(ls "$P/include/vek" | wc -l)" -eq 13 ] || { echo "expected 13 headers"; ls "$P/include/vek"; exit 1; }
  readelf -d "$L/libvekcommon.so" | grep -q 'SONAME.*\[libvekcommon.so.1\]'
  readelf -d "$L/libvekcommon.so" | grep -q 'NEEDED.*\[libVekSalIf.so.1\]'
  readelf -d "$L/libvekcommon.so" | grep -q 'RUNPATH.*\[\$ORIGIN\]'
  if [ "$platform" = standin ]; then
    readelf -d "$L/libVekSalIf.so" | grep -q 'SONAME.*\[libVekSalIf.so.1\]'
  fi
  grep -qx "libdir=\${prefix}/$libdir" "$L/pkgconfig/vekcommon.pc" || { cat "$L/pkgconfig/vekcommon.pc"; exit 1; }

  local t=$work/consumers
  rm -rf "$t"; mkdir -p "$t/cmk"
  cat > "$t/t.c" <<'C'
#include <stdio.h>
#include <string.h>
#include <vek/vekcommon.h>
int main(void) {
    const char *n = vek_status_get(VEK_ST_MAP_INVALID_MAP);
    if (strcmp(n, "VEK_ST_MAP_INVALID_MAP") != 0) return 1;
    printf("c99 consumer ok\n");
    return 0;
}
C
  [ "$(PKG_CONFIG_PATH=$L/pkgconfig pkg-config --modversion vekcommon)" = "1.0.0" ]
  "$cc" -std=c99 -Wall -Wextra -pedantic -Werror $(PKG_CONFIG_PATH=$L/pkgconfig pkg-config --cflags vekcommon) \
    "$t/t.c" $(PKG_CONFIG_PATH=$L/pkgconfig pkg-config --libs vekcommon) -o "$t/t_c"
  # No rpath in the program: the loader finds libvekcommon through the path
  # given here and libVekSalIf through libvekcommon's RUNPATH (an external
  # one through the path as well).
  LD_LIBRARY_PATH=$L${salif_dir:+:$salif_dir} run "$t/t_c"

  cat > "$t/cmk/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.16)
project(consumer LANGUAGES CXX)
find_package(vekcommon 1 CONFIG REQUIRED)
add_executable(t t.cpp)
target_link_libraries(t PRIVATE vekcommon::vekcommon)
CM
  cat > "$t/cmk/t.cpp" <<'CPP'
#include <cstdio>
#include <cstring>
#include <vek/vekcommon.h>
int main() {
    if (std::strcmp(vek_status_get(0), "VEK_ST_SUCCESS") != 0) return 1;
    std::printf("cmake consumer ok\n");
    return 0;
}
CPP
  if [ -n "${VEK_TOOLCHAIN_FILE:-}" ]; then
    # A cross toolchain roots package searches in the target's tree, so the
    # package directory is named directly.
    cmake -S "$t/cmk" -B "$t/cmk/b" -DCMAKE_TOOLCHAIN_FILE="$VEK_TOOLCHAIN_FILE" \
      -Dvekcommon_DIR="$L/cmake/vekcommon" > /dev/null
  else
    cmake -S "$t/cmk" -B "$t/cmk/b" -DCMAKE_PREFIX_PATH="$P" -DCMAKE_CXX_COMPILER="$cxx" > /dev/null
  fi
  cmake --build "$t/cmk/b" > /dev/null
  # libvekcommon's RUNPATH does not lead to an external platform library.
  if [ -n "$salif_dir" ]; then
    LD_LIBRARY_PATH=$salif_dir run "$t/cmk/b/t"
  else
    run "$t/cmk/b/t"
  fi
}

# 1. The build tree, installed to a prefix and moved.
libdir1=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
cmake --install "$build" --prefix "$work/p1" > /dev/null
mv "$work/p1" "$work/prefix"
check_tree "$work/prefix" "${libdir1:-lib}"
echo "install into a prefix: ok"
if [ "${VEK_DOCS:-0}" = 1 ]; then
  P=$work/prefix
  docdir=$(sed -n 's/^CMAKE_INSTALL_DOCDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
  mandir=$(sed -n 's/^CMAKE_INSTALL_MANDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
  M=$P/${mandir:-share/man}
  [ -f "$P/${docdir:-share/doc/vekcommon}/html/index.html" ] || { echo "HTML reference not installed"; exit 1; }
  for f in vek_map_decode vek_rsrc_allocate; do
    [ -f "$M/man3/$f.3" ] || { echo "man page $f.3 not installed"; exit 1; }
    if command -v man > /dev/null; then
      MANPATH=$M man -w "$f" > /dev/null || { echo "man $f: no page through MANPATH=$M"; exit 1; }
    fi
  done
  echo "reference installed: $(ls "$M/man3" | wc -l) man pages"
else
  echo "reference not built (no Doxygen or VEK_BUILD_DOCS=OFF): not checked"
fi

# 2. Prefix /usr, multiarch libdir, DESTDIR. The scratch build lives in the
#    build tree, so a compiler cache finds the same objects.
# The multiarch name (clang's -dumpmachine says x86_64-pc-linux-gnu, which
# no package search looks under).
triplet=$("$cc" -print-multiarch 2> /dev/null || true)
[ -n "$triplet" ] || triplet=$("$cc" -dumpmachine)
b2=$build/install-check-multiarch
# The reference is checked in step 1; only the library's targets are built here.
args=(-DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR="lib/$triplet"
      -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DVEK_PLATFORM="$platform"
      -DVEK_WERROR="${VEK_WERROR:-OFF}" -DVEK_BUILD_DOCS=OFF)
[ -n "${VEK_TOOLCHAIN_FILE:-}" ] && args+=(-DCMAKE_TOOLCHAIN_FILE="$VEK_TOOLCHAIN_FILE")
[ "$platform" = external ] && args+=(-DVEK_SALIF_LIBRARY="$VEK_SALIF_LIBRARY")
cmake -S "$src" -B "$b2" "${args[@]}" > /dev/null
targets=(vekcommon)
components=(Runtime Development)
if [ "$platform" = standin ]; then
  targets+=(VekSalIf)
  components+=(PlatformRuntime PlatformDevelopment)
fi
cmake --build "$b2" --target "${targets[@]}" -j2 > /dev/null
# The library's components only: the tools are not built here.
for c in "${components[@]}"; do
  DESTDIR=$work/dest cmake --install "$b2" --component "$c" > /dev/null
done
[ -z "$(find "$work/dest" -mindepth 1 -maxdepth 1 ! -name usr)" ] || { echo "files outside DESTDIR/usr"; find "$work/dest" -maxdepth 1; exit 1; }
check_tree "$work/dest/usr" "lib/$triplet"
echo "install with /usr, lib/$triplet and DESTDIR: ok"
echo "install checks passed"
