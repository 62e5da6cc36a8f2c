#!/usr/bin/env bash
# Builds the resource registry's concurrency test under ThreadSanitizer and
# runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${VEK_TSAN_BUILD_DIR:-build-tsan}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DVEK_SANITIZE=thread "$@" > /dev/null
cmake --build "$build" -j"${VEK_JOBS:-$(nproc)}" --target rsrc_concurrency_test
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
ctest --test-dir "$build" -R '^RsrcConcurrencyTest\.' --output-on-failure --no-tests=error
