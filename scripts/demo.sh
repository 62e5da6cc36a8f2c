#!/usr/bin/env bash
# Builds the library and runs the demo on its bundled sample, or on the
# session file given as argument.
set -euo pipefail
# A session file given on the command line is taken relative to the caller.
args=()
for a in "$@"; do args+=("$(realpath -- "$a")"); done
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-demo -DBUILD_TESTING=OFF > /dev/null
cmake --build build-demo -j"$(nproc)" --target vekdemo > /dev/null
exec ./build-demo/examples/vekdemo "${args[@]}"
