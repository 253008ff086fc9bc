#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build/fuzz and runs each for a fixed time.
#   scripts/fuzz.sh [seconds per target, default 60]
# Each target starts from its seed corpus in fuzz/corpus/<target> (copied, so the repository's
# corpus stays small) and writes any crashing input to build/fuzz/findings/<target>/. Exits
# non-zero when a target crashes, leaks, times out or breaks an invariant; prints the number of
# executions of each target. Not part of scripts/test.sh, whose formats tests replay the corpus
# in both builds; run it by hand after a change to a file reader.
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" fuzz
build="$root/build/fuzz"

CC=${CC:-clang-14} CXX=${CXX:-clang++-14} cmake -S "$root" -B "$build" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFW_FUZZ=ON -DFW_SANITIZE=ON -DFW_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_string_list fuzz_saved_side fuzz_difference >/dev/null

status=0
for target in string_list saved_side difference; do
  work="$build/corpus/$target"
  findings="$build/findings/$target"
  mkdir -p "$work" "$findings"
  cp -n "$root/fuzz/corpus/$target/"* "$work/" 2>/dev/null || true
  log="$build/$target.log"
  set +e
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=16384 -artifact_prefix="$findings/" -print_final_stats=1 "$work" >"$log" 2>&1
  rc=$?
  set -e
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  if [ $rc -eq 0 ]; then
    echo "fuzz_$target: $runs executions in ${seconds}s, no findings"
  else
    echo "fuzz_$target: FAILED (exit $rc) after $runs executions; see $log and $findings"
    tail -n 30 "$log"
    status=1
  fi
done
exit $status
