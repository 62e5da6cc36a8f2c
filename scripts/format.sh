#!/usr/bin/env bash
# Formats the C and C++ sources with clang-format-14 and the root
# .clang-format, or checks that they are formatted.
# Usage: scripts/format.sh           format every file in place
#        scripts/format.sh --check   list the files that differ (with the
#                                    number of their lines that would change)
#                                    and exit 1 when there is any; change nothing
# The files: *.c, *.h, *.cpp and *.hpp under src, include, platform, tools,
# tests, fuzz, bench, examples and python, as git tracks them (build trees
# and other generated files are never tracked), without tests/third_party.
# The *.h.in templates are left out: their @NAME@ placeholders are not C and
# clang-format would split them. clang-format-14 is installed with apt when
# missing (scripts/setup.sh format).
set -euo pipefail
cd "$(dirname "$0")/.."
check=0
case "${1:-}" in
  --check) check=1 ;;
  "") ;;
  *) echo "usage: scripts/format.sh [--check]" >&2; exit 2 ;;
esac
cf=clang-format-14
command -v "$cf" > /dev/null || bash scripts/setup.sh format

dirs=(src include platform tools tests fuzz bench examples python)
mapfile -t files < <(git ls-files -- "${dirs[@]}" |
  grep -E '\.(c|h|cpp|hpp)$' | grep -v '^tests/third_party/' || true)
if [ ${#files[@]} -eq 0 ]; then
  echo "format.sh: no source files found (not a git checkout?)" >&2
  exit 2
fi

if [ $check -eq 0 ]; then
  printf '%s\0' "${files[@]}" | xargs -0 -n 16 "$cf" --style=file -i
  echo "format.sh: ${#files[@]} files formatted"
  exit 0
fi

differ=0
lines=0
broken=0
out=$(mktemp)
trap 'rm -f "$out"' EXIT
for f in "${files[@]}"; do
  if ! "$cf" --style=file "$f" > "$out"; then
    echo "$f: $cf failed"
    broken=$((broken + 1))
    continue
  fi
  cmp -s "$out" "$f" && continue
  # Lines of the file that would change; a change that only adds lines
  # counts as one.
  n=$(diff "$f" "$out" | grep -c '^<' || true)
  [ "$n" -gt 0 ] || n=1
  echo "$f: $n lines differ"
  differ=$((differ + 1))
  lines=$((lines + n))
done
if [ $differ -gt 0 ] || [ $broken -gt 0 ]; then
  [ $broken -eq 0 ] || echo "format.sh: $cf failed on $broken files"
  echo "format.sh: $differ of ${#files[@]} files not formatted ($lines lines would change); run bash scripts/format.sh"
  exit 1
fi
echo "format.sh: all ${#files[@]} files formatted"
