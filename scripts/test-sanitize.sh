#!/usr/bin/env bash
# Builds and runs the whole suite under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=build-asan
cmake -S . -B $build -DCMAKE_BUILD_TYPE=Debug -DVEK_SANITIZE=address,undefined -DVEK_WERROR=ON > /dev/null
cmake --build $build -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir $build -j"$(nproc)" --output-on-failure -LE install
