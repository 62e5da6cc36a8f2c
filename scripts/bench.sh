#!/usr/bin/env bash
# Builds the Google Benchmarks in Release mode and runs them (or the ones
# named on the command line, e.g. scripts/bench.sh bitmap_bench). The peer
# benchmark program, peers_bench, ends its output with the ratio table.
#
#   scripts/bench.sh --results [peers_bench flags...]
#       runs peers_bench alone and rewrites bench/RESULTS.md with its table
#       and the machine it ran on.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh bench
build=build-bench
cmake -S . -B $build -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build $build -j"$(nproc)"

if [ "${1:-}" = --results ]; then
  shift
  table=$(mktemp)
  trap 'rm -f "$table"' EXIT
  "$build/bench/peers_bench" --peers_table="$table" "$@"
  cpu=$(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')
  cores=$(nproc)
  compiler=$(${CXX:-c++} --version | head -n1)
  {
    echo "# Peer benchmark results"
    echo
    echo "One run of \`scripts/bench.sh --results\` (peers_bench, Release build)."
    echo "Regenerate with the same command; the table below is its output."
    echo
    echo "- Machine: $cpu, $cores cores ($(uname -m))"
    echo "- Compiler: $compiler"
    echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
    [ $# -eq 0 ] || echo "- Flags: $*"
    echo
    cat "$table"
  } > bench/RESULTS.md
  echo "bench/RESULTS.md written"
  exit 0
fi

benches=("$@")
if [ ${#benches[@]} -eq 0 ]; then
  mapfile -t benches < <(cd $build/bench && find . -maxdepth 1 -type f -executable -name '*_bench' -printf '%f\n' | sort)
fi
for b in "${benches[@]}"; do
  echo "== $b =="
  "$build/bench/$b"
done
