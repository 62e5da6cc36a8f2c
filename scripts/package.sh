#!/usr/bin/env bash
# Builds the Debian packages of the library for amd64 and armhf (the armhf
# ones from the cross build), checks them with lintian (no errors allowed),
# then installs the amd64 ones with dpkg -i, checks that man finds the
# library's reference (section 3) and the tool's page, builds and runs a C
# program (pkg-config) and a CMake program (find_package) against /usr, and
# removes the packages again. libvekcommon-dev carries the reference (HTML
# and man pages), so Doxygen is installed first.
# The packages land in out/packages/; the build trees (build-pkg-amd64,
# build-pkg-armhf, prefix /usr and multiarch libdir) keep their debug
# information for scripts/abi-check.sh.
# Usage: scripts/package.sh [--no-install]   (--no-install: build and lint only)
set -euo pipefail
cd "$(dirname "$0")/.."
install=1
[ "${1:-}" = --no-install ] && install=0
bash scripts/setup.sh armhf package python docs
# The reference's dates (man pages) come from the Debian changelog, so the
# amd64 and armhf packages (Multi-Arch: same) carry identical files.
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l cmake/debian/changelog -STimestamp)
export SOURCE_DATE_EPOCH
out=$PWD/out/packages
rm -rf "$out"
mkdir -p "$out"

# cross_depends TRIPLET FILE: the Depends of a cross-built binary.
cross_depends() {
  local needed syms deps=() v
  needed=$("$1-readelf" -d "$2" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
  syms=$("$1-objdump" -T "$2")
  v=$(grep -o 'GLIBC_[0-9.]*' <<< "$syms" | sed 's/GLIBC_//' | sort -V | tail -1)
  deps+=("libc6 (>= ${v:-2.4})")
  if grep -q '^libgcc_s.so.1$' <<< "$needed"; then
    v=$(grep -o 'GCC_[0-9.]*' <<< "$syms" | sed 's/GCC_//' | sort -V | tail -1)
    deps+=("libgcc-s1 (>= ${v:-3.0})")
  fi
  if grep -q '^libstdc++.so.6$' <<< "$needed"; then
    deps+=("libstdc++6 (>= 12)")
  fi
  local IFS=,
  sed 's/,/, /g' <<< "${deps[*]}"
}

build_packages() {
  local arch=$1 triplet=$2 b=build-pkg-$1
  local args=(-DBUILD_TESTING=OFF -DVEK_WERROR=ON -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR="lib/$triplet")
  [ "$arch" = armhf ] && args+=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-armhf.cmake")
  cmake -S . -B "$b" "${args[@]}" > /dev/null
  [ -f "$b/Doxyfile" ] || { echo "Doxygen was not found: libvekcommon-dev would lack the reference"; exit 1; }
  cmake --build "$b" -j"$(nproc)"
  if [ "$arch" = armhf ]; then
    # dpkg-shlibdeps cannot read the cross binaries (no armhf dpkg
    # architecture here), so their run-time dependencies are stated from
    # what each binary needs: libc6 from its newest GLIBC symbol version,
    # libgcc-s1 from its newest GCC one, libstdc++6 at the compiler's
    # version (12).
    local comp file
    local cross=()
    for comp in Runtime:src/libvekcommon.so.1 PlatformRuntime:platform/libVekSalIf.so.1 \
                Tool:tools/vekutil/vekutil; do
      file=$b/${comp#*:}
      [ -e "$file" ] || continue
      cross+=(-DVEK_DEB_CROSS_DEPENDS_${comp%%:*}="$(cross_depends "$triplet" "$file")")
    done
    cmake "$b" "${cross[@]}" > /dev/null
  fi
  (cd "$b" && cpack -G DEB -B "$PWD/cpack" > cpack.log) || { cat "$b/cpack.log"; exit 1; }
  # Finishing touches CPack does not make: the library packages are
  # Multi-Arch: same (multiarch paths, identical shared files), so amd64
  # and armhf ones install side by side; maintainer scripts that only run
  # ldconfig go, the packages' ldconfig trigger does it; manual pages are
  # compressed as Debian wants (gzip -9n), with md5sums made anew.
  local d pkg r f
  for d in "$b"/cpack/*.deb; do
    pkg=$(dpkg-deb -f "$d" Package)
    r=$b/repack
    rm -rf "$r"
    dpkg-deb -R "$d" "$r"
    if [[ $pkg == lib* ]]; then
      sed -i '/^Architecture:/a Multi-Arch: same' "$r/DEBIAN/control"
    fi
    for f in "$r/DEBIAN/postinst" "$r/DEBIAN/postrm"; do
      if [ -f "$f" ] && ! grep -Evq '^(#!/bin/sh|set -e|if \[ "\$1" = "[a-z]+" \]; then|[[:space:]]*ldconfig|fi|)$' "$f"; then
        rm "$f"
      fi
    done
    if [ -d "$r/usr/share/man" ]; then
      find "$r/usr/share/man" -type f ! -name '*.gz' -exec gzip -9n {} +
    fi
    (cd "$r" && find . -type f ! -path './DEBIAN/*' -printf '%P\0' | sort -z | xargs -0r md5sum > DEBIAN/md5sums)
    dpkg-deb --root-owner-group -b "$r" "$out/$(basename "$d")" > /dev/null
    rm -rf "$r" "$d"
  done
}
build_packages amd64 "$(gcc -dumpmachine)"
build_packages armhf arm-linux-gnueabihf

echo "== packages"
for d in "$out"/*.deb; do
  echo "$(basename "$d"): $(dpkg-deb -f "$d" Depends)"
done
echo "== lintian"
rc=0
lintian --fail-on error "$out"/*.deb > "$out/lintian.txt" 2>&1 || rc=$?
grep -v 'running with root privileges' "$out/lintian.txt" || true
[ $rc -eq 0 ] || { echo "lintian reports errors"; exit 1; }
echo "lintian: no errors"

[ $install -eq 1 ] || exit 0
echo "== install the amd64 packages, build against /usr, remove them"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
debs=("$out"/*_amd64.deb)
names=()
for d in "${debs[@]}"; do names+=("$(dpkg-deb -f "$d" Package)"); done
dpkg_retry() {  # the dpkg lock may be held for a while by apt
  for _ in $(seq 60); do
    if $sudo dpkg "$@" 2> "$work/dpkg.err"; then return 0; fi
    grep -q 'lock' "$work/dpkg.err" || { cat "$work/dpkg.err"; return 1; }
    sleep 5
  done
  cat "$work/dpkg.err"; return 1
}
work=$(mktemp -d)
cleanup() { dpkg_retry -r "${names[@]}" > /dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
dpkg_retry -i "${debs[@]}" > /dev/null

for f in vek_map_decode vek_rsrc_allocate vekutil; do
  page=$(man -w "$f") || { echo "man $f: no page with the packages installed"; exit 1; }
  owner=$(dpkg -S "$(realpath "$page")" 2> /dev/null | cut -d: -f1 || true)
  echo "man $f: $page (${owner:-no package})"
  MANWIDTH=100 man -P cat "$f" 2> /dev/null | grep -q "$f" || { echo "man $f shows no page"; exit 1; }
done
[ -f /usr/share/doc/vekcommon/html/index.html ] || { echo "HTML reference not installed"; exit 1; }
echo "HTML reference: /usr/share/doc/vekcommon/html/index.html"

cat > "$work/t.c" <<'C'
#include <stdio.h>
#include <string.h>
#include <vek/vekcommon.h>
#include <vek_saltest.h>
int main(void) {
    vek_map_t *map = NULL;
    uint32_t v = 0;
    if (vek_map_create(&map) != VEK_ST_SUCCESS) return 1;
    if (vek_map_set_u32_ll(map, "port.speed", 100, 0) != VEK_ST_SUCCESS) return 1;
    if (vek_map_get_u32(map, "port.speed", &v) != VEK_ST_SUCCESS || v != 100) return 1;
    if (vek_saltest_heap_live() <= 0) return 1;
    if (vek_map_destroy(map) != VEK_ST_SUCCESS) return 1;
    if (strcmp(vek_status_get(VEK_ST_MAP_INVALID_MAP), "VEK_ST_MAP_INVALID_MAP") != 0) return 1;
    printf("c99 consumer against /usr ok\n");
    return 0;
}
C
cc -std=c99 -Wall -Wextra -pedantic -Werror $(pkg-config --cflags vekcommon) "$work/t.c" \
  $(pkg-config --libs vekcommon) -o "$work/t_c"
"$work/t_c"
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
    std::printf("cmake consumer against /usr ok\n");
    return 0;
}
CPP
cmake -S "$work/cmk" -B "$work/cmk/b" > /dev/null
cmake --build "$work/cmk/b" > /dev/null
"$work/cmk/b/t"
dpkg_retry -r "${names[@]}" > /dev/null
[ ! -e /usr/include/vek/vekcommon.h ] || { echo "packages not removed"; exit 1; }
echo "packages installed, used and removed"
