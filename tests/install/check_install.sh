#!/usr/bin/env bash
# Installs the build tree into a scratch prefix, checks the exported symbols
# of both libraries against the version scripts, then builds and runs a C99
# program with pkg-config and a C++ program with find_package against it,
# after moving the tree to prove it relocatable.
# Cross builds set VEK_EMULATOR (the command that runs target programs, e.g.
# "qemu-arm -L /usr/arm-linux-gnueabihf") and VEK_TOOLCHAIN_FILE.
set -euo pipefail
build=$1
src=$2
cc=$3
cxx=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
read -r -a emu <<< "${VEK_EMULATOR:-}"
run() { "${emu[@]}" "$@"; }

cmake --install "$build" --prefix "$work/p1" > /dev/null
mv "$work/p1" "$work/prefix"
P=$work/prefix

# Exported symbols: exactly the names of the version scripts.
bash "$src/scripts/check-exports.sh" "$P/lib" "$src"

# Layout
for f in include/vek/vekcommon.h lib/libvekcommon.so.1.0.0 lib/libvekcommon.so.1 lib/libvekcommon.so \
         lib/libVekSalIf.so.1.0.0 lib/libVekSalIf.so.1 lib/libVekSalIf.so lib/pkgconfig/vekcommon.pc \
         lib/cmake/vekcommon/vekcommonConfig.cmake lib/cmake/vekcommon/vekcommonConfigVersion.cmake; do
  [ -e "$P/$f" ] || { echo "missing $f"; exit 1; }
done
[ "$(ls "$P/include/vek" | wc -l)" -eq 13 ] || { echo "expected 13 headers"; ls "$P/include/vek"; exit 1; }
readelf -d "$P/lib/libvekcommon.so" | grep -q 'SONAME.*\[libvekcommon.so.1\]'
readelf -d "$P/lib/libvekcommon.so" | grep -q 'NEEDED.*\[libVekSalIf.so.1\]'
readelf -d "$P/lib/libvekcommon.so" | grep -q 'RUNPATH.*\[\$ORIGIN\]'
readelf -d "$P/lib/libVekSalIf.so" | grep -q 'SONAME.*\[libVekSalIf.so.1\]'

cat > "$work/t.c" <<'C'
#include <stdio.h>
#include <string.h>
#include <vek/vekcommon.h>
int main(void) {
    const char *n = vek_status_get(VEK_ST_MAP_INVALID_MAP);
    char v[32];
    if (strcmp(n, "VEK_ST_MAP_INVALID_MAP") != 0) return 1;
    /* The version header agrees with itself and with the package's version. */
    snprintf(v, sizeof v, "%d.%d.%d", VEK_VERSION_MAJOR, VEK_VERSION_MINOR, VEK_VERSION_PATCH);
    if (strcmp(v, VEK_VERSION_STRING) != 0 || strcmp(v, VEK_EXPECTED_VERSION) != 0) return 1;
    if (VEK_VERSION_NUMBER != VEK_VERSION_ENCODE(VEK_VERSION_MAJOR, VEK_VERSION_MINOR, VEK_VERSION_PATCH)) return 1;
    printf("c99 consumer ok\n");
    return 0;
}
C
export PKG_CONFIG_PATH=$P/lib/pkgconfig
[ "$(pkg-config --modversion vekcommon)" = "1.0.0" ]
"$cc" -std=c99 -Wall -Wextra -pedantic -Werror $(pkg-config --cflags vekcommon) \
  -DVEK_EXPECTED_VERSION="\"$(pkg-config --modversion vekcommon)\"" "$work/t.c" \
  $(pkg-config --libs vekcommon) -o "$work/t_c"
# No rpath in the program: the loader finds libvekcommon through the path
# given here and libVekSalIf through libvekcommon's RUNPATH.
LD_LIBRARY_PATH=$P/lib run "$work/t_c"

mkdir -p "$work/cmk"
cat > "$work/cmk/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.16)
project(consumer LANGUAGES CXX)
find_package(vekcommon 1 CONFIG REQUIRED)
add_executable(t t.cpp)
target_link_libraries(t PRIVATE vekcommon::vekcommon)
CM
cat > "$work/cmk/t.cpp" <<'CPP'
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
  cmake -S "$work/cmk" -B "$work/cmk/b" -DCMAKE_TOOLCHAIN_FILE="$VEK_TOOLCHAIN_FILE" \
    -Dvekcommon_DIR="$P/lib/cmake/vekcommon" > /dev/null
else
  cmake -S "$work/cmk" -B "$work/cmk/b" -DCMAKE_PREFIX_PATH="$P" -DCMAKE_CXX_COMPILER="$cxx" > /dev/null
fi
cmake --build "$work/cmk/b" > /dev/null
run "$work/cmk/b/t"
echo "install checks passed"
