#!/usr/bin/env bash
# Builds the library and runs the demo on its bundled sample.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-demo -DBUILD_TESTING=OFF > /dev/null
cmake --build build-demo -j"$(nproc)" --target vekdemo > /dev/null
exec ./build-demo/examples/vekdemo "$@"
