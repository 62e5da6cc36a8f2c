#!/usr/bin/env bash
# Builds the Google Benchmarks in Release mode and runs them (or the ones
# named on the command line, e.g. scripts/bench.sh bitmap_bench).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=build-bench
cmake -S . -B $build -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build $build -j"$(nproc)"
benches=("$@")
if [ ${#benches[@]} -eq 0 ]; then
  mapfile -t benches < <(cd $build/bench && find . -maxdepth 1 -type f -executable -name '*_bench' -printf '%f\n' | sort)
fi
for b in "${benches[@]}"; do
  echo "== $b =="
  "$build/bench/$b"
done
