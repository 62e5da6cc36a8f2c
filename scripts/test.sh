#!/usr/bin/env bash
# Builds the library with its tests and runs them all (native x86_64 or
# whatever this machine is), with warnings as errors (VEK_WERROR). Extra
# arguments go to the cmake configure step (e.g. -DCMAKE_BUILD_TYPE=Release).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${VEK_BUILD_DIR:-build}
cmake -S . -B "$build" -DBUILD_TESTING=ON -DVEK_WERROR=ON "$@" > /dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure
