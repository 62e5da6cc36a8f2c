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
cmake -S . -B $build -DCMAKE_BUILD_TYPE=Release -DVEK_WERROR=ON > /dev/null

if [ "${1:-}" = --results ]; then
  shift
  cmake --build $build --target peers_bench -j"$(nproc)"
  table=$(mktemp)
  trap 'rm -f "$table"' EXIT
  "$build/bench/peers_bench" --peers_table="$table" "$@"
  cpu=$(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')
  cores=$(nproc)
  compiler=$(${CXX:-c++} --version | head -n1)
  generated=$(mktemp)
  trap 'rm -f "$table" "$generated"' EXIT
  {
    echo "<!-- results:begin (written by scripts/bench.sh --results) -->"
    echo "One run of \`scripts/bench.sh --results\` (peers_bench, Release build)."
    echo
    echo "- Machine: $cpu, $cores cores ($(uname -m))"
    echo "- Compiler: $compiler"
    echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
    [ $# -eq 0 ] || echo "- Flags: $*"
    echo
    cat "$table"
    echo "<!-- results:end -->"
  } > "$generated"
  # The run replaces the marked part; the notes around it stay.
  if [ -f bench/RESULTS.md ] && grep -q '^<!-- results:begin' bench/RESULTS.md; then
    awk -v gen="$generated" '
      /^<!-- results:begin/ { while ((getline line < gen) > 0) print line; skip = 1; next }
      /^<!-- results:end/ { skip = 0; next }
      !skip { print }' bench/RESULTS.md > bench/RESULTS.md.new
    mv bench/RESULTS.md.new bench/RESULTS.md
  else
    { echo "# Peer benchmark results"; echo; cat "$generated"; } > bench/RESULTS.md
  fi
  echo "bench/RESULTS.md written"
  exit 0
fi

benches=("$@")
if [ ${#benches[@]} -eq 0 ]; then
  mapfile -t benches < <(cd bench && { ls *_bench.cpp | sed 's/\.cpp$//'; [ ! -d peers ] || echo peers_bench; } | sort)
fi
# Only the benches are built; peers_bench exists when its peers are installed.
for b in "${benches[@]}"; do
  cmake --build $build --target "$b" -j"$(nproc)"
done
for b in "${benches[@]}"; do
  echo "== $b =="
  "$build/bench/$b"
done
