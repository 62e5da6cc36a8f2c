#!/usr/bin/env bash
# Builds the library, the stand-in platform library, the examples and the
# tests with clang-14 under -Wall -Wextra -Werror, and runs the suite.
# Extra arguments go to the cmake configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh clang
build=build-clang
CC=clang-14 CXX=clang++-14 cmake -S . -B $build -DBUILD_TESTING=ON -DVEK_WERROR=ON "$@" > /dev/null
cmake --build $build -j"$(nproc)"
ctest --test-dir $build -j"$(nproc)" --output-on-failure
