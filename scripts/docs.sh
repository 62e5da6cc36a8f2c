#!/usr/bin/env bash
# Builds the reference (HTML and man pages) with Doxygen, warnings as errors
# (a public name without documentation fails), installs it into a scratch
# prefix and checks that man finds the pages of two functions there.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v doxygen > /dev/null && command -v man > /dev/null || bash scripts/setup.sh docs
build=${VEK_DOCS_BUILD_DIR:-build-docs}
cmake -S . -B "$build" -DVEK_BUILD_DOCS=ON -DBUILD_TESTING=OFF > /dev/null
cmake --build "$build" --target doc vekcommon -j"$(nproc)"
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" --component Development > /dev/null
[ -f "$prefix/share/doc/vekcommon/html/index.html" ] || { echo "HTML reference not installed"; exit 1; }
for f in vek_map_decode vek_rsrc_allocate; do
  page=$(MANPATH="$prefix/share/man" man -w "$f")
  echo "man $f: $page"
  MANPATH="$prefix/share/man" MANWIDTH=100 man -P cat "$f" > "$prefix/page.txt" 2> /dev/null
  grep -q "$f" "$prefix/page.txt" || { echo "man $f shows no page"; exit 1; }
done
echo "reference: $(ls "$prefix/share/man/man3" | wc -l) man pages"
