#!/usr/bin/env bash
# Compiles each public header alone, and the umbrella, in every supported
# dialect with warnings as errors.
set -euo pipefail
inc=$1
cc=${CC:-cc}
cxx=${CXX:-c++}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
headers=$(cd "$inc/vek" && ls *.h)
[ "$(echo $headers | wc -w)" -eq 13 ] || { echo "expected 13 public headers"; exit 1; }
for h in $headers; do
  printf '#include <vek/%s>\n#include <vek/%s>\nint vek_header_check_%s;\n' "$h" "$h" "${h%.h}" > "$work/t.c"
  cp "$work/t.c" "$work/t.cpp"
  for std in c99 c11 gnu11; do
    if ! "$cc" -std=$std -Wall -Wextra -pedantic -Werror -I"$inc" -c "$work/t.c" -o "$work/t.o"; then
      echo "FAIL: $h as $std"; fail=1
    fi
  done
  for std in c++11 c++17 c++20; do
    if ! "$cxx" -std=$std -Wall -Wextra -pedantic -Werror -I"$inc" -c "$work/t.cpp" -o "$work/t.o"; then
      echo "FAIL: $h as $std"; fail=1
    fi
  done
done
[ $fail -eq 0 ] && echo "all headers compile alone"
exit $fail
