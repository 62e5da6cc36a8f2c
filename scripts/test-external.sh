#!/usr/bin/env bash
# Builds and tests the library against an installed platform library
# (VEK_PLATFORM=external). The only libVekSalIf at hand is the project's
# stand-in, so it is built and installed (its PlatformRuntime and
# PlatformDevelopment components) into a scratch prefix first; the library
# is then configured against that prefix and builds nothing of the stand-in.
# Test programs that need the stand-in's test controls skip their tests;
# the others run, and the install check runs without the platform library.
# Usage: scripts/test-external.sh [PLATFORM_PREFIX]  (an existing libVekSalIf)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
prefix=${1:-}
if [ -z "$prefix" ]; then
  stand=build-salif
  prefix=$PWD/$stand/prefix
  cmake -S . -B $stand -DBUILD_TESTING=OFF -DVEK_WERROR=ON > /dev/null
  cmake --build $stand --target VekSalIf -j"$(nproc)"
  rm -rf "$prefix"
  for c in PlatformRuntime PlatformDevelopment; do
    cmake --install $stand --component $c --prefix "$prefix" > /dev/null
  done
fi
build=build-external
cmake -S . -B $build -DBUILD_TESTING=ON -DVEK_PLATFORM=external -DVekSalIf_ROOT="$prefix" -DVEK_WERROR=ON > /dev/null
[ ! -e $build/platform/libVekSalIf.so ] || { echo "the stand-in was built"; exit 1; }
cmake --build $build -j"$(nproc)"
ctest --test-dir $build -j"$(nproc)" --output-on-failure
