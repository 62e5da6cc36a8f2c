#!/usr/bin/env bash
# Builds the libFuzzer targets with clang-14 (library, stand-in and targets
# under AddressSanitizer + UndefinedBehaviorSanitizer) and runs each target
# for SECONDS seconds (default 60), starting from its seed corpus and its
# regression inputs. New inputs go to build-fuzz/corpus/<target>/, crashes
# to build-fuzz/artifacts/<target>/; the run fails when a target fails.
# VEK_FUZZ_JOBS=2 runs two targets at a time; VEK_FUZZ_TARGETS picks targets.
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/setup.sh clang
build=build-fuzz
CC=clang-14 CXX=clang++-14 cmake -S . -B $build -DVEK_FUZZ=ON -DBUILD_TESTING=OFF -DVEK_WERROR=ON > /dev/null
targets=${VEK_FUZZ_TARGETS:-"map_decode map_decode_trace map_path strlist getopt_crt rsrc containers region_header"}
cmake --build $build -j"$(nproc)" --target $(for t in $targets; do echo "fuzz_$t"; done)

run_one() {
  local t=$1
  local corpus=$build/corpus/$t artifacts=$build/artifacts/$t/
  mkdir -p "$corpus" "$artifacts"
  local seeds=(fuzz/corpus/$t)
  [ -d fuzz/regressions/$t ] && seeds+=(fuzz/regressions/$t)
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    nice "$build/fuzz/fuzz_$t" "$corpus" "${seeds[@]}" \
      -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=4096 \
      -print_final_stats=1 -artifact_prefix="$artifacts" > "$build/fuzz_$t.log" 2>&1
}

jobs=${VEK_FUZZ_JOBS:-1}
status=0
pids=()
names=()
for t in $targets; do
  run_one "$t" &
  pids+=($!)
  names+=("$t")
  if [ ${#pids[@]} -ge "$jobs" ]; then
    wait "${pids[0]}" || { echo "fuzz target ${names[0]} FAILED (see $build/fuzz_${names[0]}.log)"; status=1; }
    pids=("${pids[@]:1}")
    names=("${names[@]:1}")
  fi
done
for i in "${!pids[@]}"; do
  wait "${pids[$i]}" || { echo "fuzz target ${names[$i]} FAILED (see $build/fuzz_${names[$i]}.log)"; status=1; }
done

printf '%-18s %12s %8s\n' target executions seconds
for t in $targets; do
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/fuzz_$t.log" | tail -1)
  secs=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$build/fuzz_$t.log" | tail -1)
  printf '%-18s %12s %8s\n' "$t" "${execs:-?}" "${secs:-?}"
done
if [ $status -ne 0 ]; then
  for t in $targets; do grep -A30 -E '==ERROR|check failed|runtime error' "$build/fuzz_$t.log" | head -60 || true; done
fi
exit $status
