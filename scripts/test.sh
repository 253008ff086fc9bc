#!/usr/bin/env bash
# Builds and runs every test: the native build under AddressSanitizer and
# UndefinedBehaviorSanitizer, the Windows build under Wine, the check that files written by one
# build read the same in the other, and a short run of each fuzz target.
# Installs what it needs first. Usage: scripts/test.sh   (FW_FUZZ_SECONDS=N sets the fuzz time)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

scripts/install-deps.sh all || exit 1

passed=0
failed=0
step() { echo; echo "=== $*"; }
# Runs a ctest and adds its counts to the totals.
run_ctest() {
  local log
  log=$(mktemp)
  ctest "$@" 2>&1 | tee "$log"
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [ -n "$line" ]; then
    local f t
    f=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
    t=$(echo "$line" | sed -E 's/.* failed out of ([0-9]+).*/\1/')
    passed=$((passed + t - f)); failed=$((failed + f))
  else
    failed=$((failed + 1))
  fi
  rm -f "$log"
}
stage() {  # stage NAME COMMAND...: one more passed or failed
  if "${@:2}"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1"; fi
}

step "Native build (AddressSanitizer, UndefinedBehaviorSanitizer)"
if cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DFW_SANITIZE=ON >/dev/null &&
   cmake --build build/asan -j"$jobs"; then
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest --test-dir build/asan --output-on-failure
else
  failed=$((failed + 1)); echo "FAILED: native build"
fi

step "Windows build (MinGW-w64), tests under Wine"
if cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
     -DCMAKE_BUILD_TYPE=Release >/dev/null &&
   cmake --build build/win -j"$jobs"; then
  run_ctest --test-dir build/win --output-on-failure
  step "Files of one build read by the other"
  stage "cross-build check" scripts/cross-check.sh build/asan/cli/ferrywick-cli \
    build/win/cli/ferrywick-cli.exe
else
  failed=$((failed + 1)); echo "FAILED: Windows build"
fi

if [ -x scripts/fuzz.sh ]; then
  step "Fuzz targets (${FW_FUZZ_SECONDS:-60} s each)"
  stage "fuzzing" scripts/fuzz.sh "${FW_FUZZ_SECONDS:-60}"
fi

echo
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
