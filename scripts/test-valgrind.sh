#!/usr/bin/env bash
# Runs the native test programs (every GoogleTest binary and the fuzz
# corpus replays) under valgrind memcheck. Any memcheck error, and any
# definitely or indirectly lost block, fails the run. The tests that need
# real robust mutexes across processes or that time out under valgrind's
# serialised threads are the same as in the native suite; valgrind only
# adds checks. Uses the native build directory of scripts/test.sh.
# Usage: scripts/test-valgrind.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh valgrind
build=${1:-${VEK_BUILD_DIR:-build}}
cmake -S . -B "$build" -DBUILD_TESTING=ON -DVEK_WERROR=ON > /dev/null
cmake --build "$build" -j"$(nproc)"

vg=(valgrind --tool=memcheck --error-exitcode=99 --leak-check=full
    --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect
    --track-origins=yes --trace-children=no --num-callers=30 --quiet)

# Private robust blocks from the C library's heap, so that memcheck sees
# their uses after release, double releases and leaks.
export VEK_ROBUST_SYSTEM_HEAP=1

programs=()
while IFS= read -r p; do programs+=("$p"); done < <(find "$build/tests" -maxdepth 1 -type f -executable -name '*_test' | sort)

failed=()
start=$SECONDS
for p in "${programs[@]}"; do
  name=$(basename "$p")
  log="$build/valgrind-$name.log"
  t0=$SECONDS
  if (cd "$build/tests" && "${vg[@]}" --log-file="$PWD/../valgrind-$name.vg" "./$name" --gtest_brief=1 > "$PWD/../valgrind-$name.log" 2>&1); then
    echo "ok      $name ($((SECONDS - t0)) s)"
  else
    echo "FAILED  $name ($((SECONDS - t0)) s): see $log and ${log%.log}.vg"
    failed+=("$name")
  fi
done
for t in map_decode map_decode_trace map_path strlist getopt_crt rsrc containers robust_heap; do
  exe="$build/fuzz/fuzz_${t}_replay"
  [ -x "$exe" ] || continue
  t0=$SECONDS
  if "${vg[@]}" --log-file="$build/valgrind-fuzz_$t.vg" "$exe" fuzz/corpus/$t fuzz/regressions/$t > "$build/valgrind-fuzz_$t.log" 2>&1; then
    echo "ok      fuzz replay $t ($((SECONDS - t0)) s)"
  else
    echo "FAILED  fuzz replay $t: see $build/valgrind-fuzz_$t.vg"
    failed+=("fuzz_$t")
  fi
done
echo "valgrind memcheck: ${#programs[@]} test programs and the fuzz replays in $((SECONDS - start)) s"
if [ ${#failed[@]} -gt 0 ]; then
  echo "failed: ${failed[*]}"
  for f in "${failed[@]}"; do head -60 "$build/valgrind-$f.vg" 2>/dev/null || true; done
  exit 1
fi
