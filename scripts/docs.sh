#!/usr/bin/env bash
# Builds the project with its reference (HTML and man pages, made by
# Doxygen) with warnings as errors (VEK_WERROR: a public name without
# documentation fails), installs it the default way (`cmake --install`, no
# component named) into a scratch prefix and checks that man finds the
# pages there through MANPATH: two functions of the library and the tool.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v doxygen > /dev/null && command -v man > /dev/null || bash scripts/setup.sh docs
build=${VEK_DOCS_BUILD_DIR:-build-docs}
cmake -S . -B "$build" -DVEK_BUILD_DOCS=ON -DVEK_WERROR=ON -DBUILD_TESTING=OFF > /dev/null
[ -f "$build/Doxyfile" ] || { echo "Doxygen was not found: the reference is not built"; exit 1; }
cmake --build "$build" -j"$(nproc)"
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" > /dev/null
[ -f "$prefix/share/doc/vekcommon/html/index.html" ] || { echo "HTML reference not installed"; exit 1; }
for f in vek_map_decode vek_rsrc_allocate vekutil; do
  page=$(MANPATH="$prefix/share/man" man -w "$f") || { echo "man $f: no page under $prefix/share/man"; exit 1; }
  echo "man $f: ${page#"$prefix/"}"
  MANPATH="$prefix/share/man" MANWIDTH=100 man -P cat "$f" > "$prefix/page.txt" 2> /dev/null
  grep -q "$f" "$prefix/page.txt" || { echo "man $f shows no page"; exit 1; }
done
echo "reference: $(ls "$prefix/share/man/man3" | wc -l) man pages, $(ls "$prefix/share/doc/vekcommon/html" | wc -l) HTML files"
