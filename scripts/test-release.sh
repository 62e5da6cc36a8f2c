#!/usr/bin/env bash
# The optimised builds a user may choose, with warnings as errors
# (VEK_WERROR): the library with its tests in Release (-O3), and the whole
# suite run, then everything built in MinSizeRel (-Os). Warnings that only
# the optimisers raise, and faults that only optimised code shows, are
# caught here before a user meets them.
# Extra arguments go to both cmake configure steps.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=build-release
cmake -S . -B $build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON -DVEK_WERROR=ON "$@" > /dev/null
cmake --build $build -j"$(nproc)"
ctest --test-dir $build -j"$(nproc)" --output-on-failure
build=build-minsizerel
cmake -S . -B $build -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=ON -DVEK_WERROR=ON "$@" > /dev/null
cmake --build $build -j"$(nproc)"
echo "MinSizeRel build: ok"
