#!/usr/bin/env bash
# Builds and runs every test: the native build under AddressSanitizer and
# UndefinedBehaviorSanitizer, the Windows build under Wine, and a short run of each fuzz target.
# Installs what it needs first. Usage: scripts/test.sh   (FW_FUZZ_SECONDS=N sets the fuzz time)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

scripts/install-deps.sh all

status=0
step() { echo; echo "=== $*"; }

step "Native build (AddressSanitizer, UndefinedBehaviorSanitizer)"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DFW_SANITIZE=ON >/dev/null
cmake --build build/asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan --output-on-failure || status=1

step "Windows build (MinGW-w64), tests under Wine"
cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/win -j"$jobs"
ctest --test-dir build/win --output-on-failure || status=1

if [ -x scripts/fuzz.sh ]; then
  step "Fuzz targets (${FW_FUZZ_SECONDS:-60} s each)"
  scripts/fuzz.sh "${FW_FUZZ_SECONDS:-60}" || status=1
fi

echo
if [ $status -eq 0 ]; then echo "All test stages passed."; else echo "Some test stage FAILED."; fi
exit $status
