#!/usr/bin/env bash
# Builds the concurrency tests (the resource registry's, the private robust
# heap's) under ThreadSanitizer (in
# build-tsan, Debug) and runs them through ctest. Extra arguments go to the
# cmake configure step; VEK_JOBS sets the build's parallelism.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=build-tsan
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DVEK_SANITIZE=thread -DVEK_WERROR=ON "$@" > /dev/null
cmake --build "$build" -j"${VEK_JOBS:-$(nproc)}" --target rsrc_concurrency_test platform_private_heap_test
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
ctest --test-dir "$build" -R '^(RsrcConcurrencyTest|PrivateHeapConcurrencyTest)\.' --output-on-failure --no-tests=error
