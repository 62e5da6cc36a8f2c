#!/usr/bin/env bash
# Builds the installed example programs against an installed tree, the way
# a user does (pkg-config), and checks their output against the installed
# expected texts. Every example is built twice: with an rpath to the
# tree's lib/ (run as is) and without (run with LD_LIBRARY_PATH).
# Cross builds set VEK_EMULATOR (the command that runs target programs).
# Built against an external platform library, VEK_PLATFORM=external and
# VEK_SALIF_LIBRARY name it; the programs find it through its directory.
set -euo pipefail
build=$1
cc=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
read -r -a emu <<< "${VEK_EMULATOR:-}"
run() { "${emu[@]}" "$@"; }

salif_dir=""
if [ "${VEK_PLATFORM:-standin}" = external ]; then
  salif_dir=$(dirname "$VEK_SALIF_LIBRARY")
fi
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
libdir=$(cache_value CMAKE_INSTALL_LIBDIR)
docdir=$(cache_value CMAKE_INSTALL_DOCDIR)

cmake --install "$build" --prefix "$work/prefix" > /dev/null
P=$work/prefix
L=$P/${libdir:-lib}
ex=$P/${docdir:-share/doc/vekcommon}/examples
export PKG_CONFIG_PATH=$L/pkgconfig

count=0
for src in "$ex"/*.c; do
  name=$(basename "$src" .c)
  [ -f "$ex/$name.expected" ] || { echo "$name: no $name.expected installed"; exit 1; }
  cflags=(-std=c99 -Wall -Wextra -pedantic -Werror -pthread $(pkg-config --cflags vekcommon))
  libs=(${salif_dir:+-L$salif_dir} $(pkg-config --libs vekcommon))
  # An external platform library is needed by libvekcommon, whose RUNPATH
  # ($ORIGIN) does not lead to it; the program's own search path serves
  # only the program's own needs, so the program names it itself.
  rpath=(-Wl,-rpath,"$L")
  [ -z "$salif_dir" ] || rpath=(-Wl,--no-as-needed -Wl,-rpath,"$L:$salif_dir")
  "$cc" "${cflags[@]}" "$src" "${rpath[@]}" "${libs[@]}" -o "$work/$name.rpath"
  "$cc" "${cflags[@]}" "$src" "${libs[@]}" -o "$work/$name"
  (cd "$work" && run "./$name.rpath") > "$work/$name.out1"
  (cd "$work" && LD_LIBRARY_PATH=$L${salif_dir:+:$salif_dir} run "./$name") > "$work/$name.out2"
  for out in "$work/$name.out1" "$work/$name.out2"; do
    if ! cmp -s "$out" "$ex/$name.expected"; then
      echo "$name: output differs from $name.expected"
      diff "$ex/$name.expected" "$out" || true
      exit 1
    fi
  done
  count=$((count + 1))
done
[ "$count" -ge 5 ] || { echo "expected at least 5 installed examples, found $count"; exit 1; }
echo "$count installed examples built with pkg-config and checked"
