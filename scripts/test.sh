#!/usr/bin/env bash
# Checks the layering of the includes first (scripts/check-layers.sh, no build needed), then
# builds and runs every test: the native build under AddressSanitizer and
# UndefinedBehaviorSanitizer, the Windows build under Wine, and the check that files written by
# one build read the same in the other. Both builds treat warnings in our code as errors. The
# fuzz targets' seed corpus is replayed by the formats tests of both builds; the timed fuzzing
# itself is scripts/fuzz.sh, run by hand.
# Installs what it needs first. Usage: scripts/test.sh
#
# Where the time goes and how it is spent well on few cores: the Windows build comes first,
# with the native build beside it at a lower priority; then the tests under Wine (mostly
# waiting for Wine, several at once) run while the native build ends; the native tests and
# the cross-build check follow side by side. One Wine server
# stays up for the whole run, so that no test races its start or its end.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

scripts/install-deps.sh native windows gui || exit 1

passed=0
failed=0
logs=$(mktemp -d "${TMPDIR:-/tmp}/fw-test.XXXXXX")
wine_server=0
asan_build=""
# renice_tree PID: the process and all below it back to priority 0 (the compilers it starts
# later inherit it from the build tool). Only where that is allowed; elsewhere nothing changes.
renice_tree() {
  local child
  renice -n 0 -p "$1" >/dev/null 2>&1 || return 0
  for child in $(pgrep -P "$1"); do renice_tree "$child"; done
}
finish() {
  if [ $wine_server -eq 1 ]; then scripts/wine-run.sh --server stop build/win; fi
  rm -rf "$logs"
}
trap finish EXIT
trap 'exit 130' INT TERM

started=$SECONDS
# A stage's heading, with the time since the start: where the minutes go, at a glance.
step() { echo; printf '=== %s [%d:%02d]\n' "$*" $(((SECONDS - started) / 60)) $(((SECONDS - started) % 60)); }
# Adds the counts of a ctest log to the totals (a log without its summary line: one failure).
count_ctest() {
  local line f t
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -1)
  if [ -n "$line" ]; then
    f=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
    t=$(echo "$line" | sed -E 's/.* failed out of ([0-9]+).*/\1/')
    passed=$((passed + t - f)); failed=$((failed + f))
  else
    failed=$((failed + 1))
  fi
}
# Adds one passed or failed for a stage whose exit status is in the file.
count_stage() {  # count_stage NAME STATUS_FILE
  if [ "$(cat "$2" 2>/dev/null)" = 0 ]; then passed=$((passed + 1)); else
    failed=$((failed + 1)); echo "FAILED: $1"
  fi
}
# configure DIR ARGS...: a new build folder gets Ninja when it is there; an existing one keeps
# the generator it was made with. Unity builds (each target's sources compiled a few at a time
# as one) halve the compile time, most of it spent in the same headers; a build without them
# (scripts/run.sh, a developer's own) still checks that every file includes what it uses.
#
# Compiles go through ccache where it is installed: a run compiles again only the batches whose
# sources or headers changed since any earlier run on this machine, also in another clone (its
# paths are taken relative to the clone; the debug information may then name the clone that
# compiled a batch first).
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=true CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-3G}
fi
configure() {
  local dir=$1; shift
  local generator=()
  if [ ! -f "$dir/CMakeCache.txt" ] && command -v ninja >/dev/null; then generator=(-G Ninja); fi
  cmake -S . -B "$dir" "${generator[@]}" -DFW_WERROR=ON -DCMAKE_UNITY_BUILD=ON "${launcher[@]}" "$@" \
    >"$logs/configure-$(basename "$dir")" 2>&1 ||
    { cat "$logs/configure-$(basename "$dir")"; return 1; }
}

step "Layers: no include runs up a layer"
if scripts/check-layers.sh; then passed=$((passed + 1)); else
  failed=$((failed + 1)); echo "FAILED: layer check"
fi

# Both configured at once (each mostly waits on compiler checks).
configure build/asan -DCMAKE_BUILD_TYPE=Debug -DFW_SANITIZE=ON & asan_conf=$!
configure build/win -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Check & win_conf=$!
wait $asan_conf; asan_ok=$?
wait $win_conf; win_ok=$?

# The Wine prefix is made (the first time) and its server started while the build compiles.
export WINEPREFIX=$root/build/win/wineprefix
server_job=""
if [ $win_ok -eq 0 ]; then
  wine_server=1
  scripts/wine-run.sh --server start build/win >"$logs/server" 2>&1 & server_job=$!
fi

# The native build starts beside the Windows build at a lower priority: it takes the cores
# whenever the Windows build leaves one idle (its serial steps and links), then while the
# tests under Wine mostly wait.
if [ $asan_ok -eq 0 ]; then
  ( nice -n 10 cmake --build build/asan -j"$jobs" >"$logs/asan-build" 2>&1
    echo $? >"$logs/asan-build.status" ) &
  asan_build=$!
fi

step "Windows build (MinGW-w64)"
if [ $win_ok -eq 0 ] && cmake --build build/win -j"$jobs"; then
  win_ok=0
else
  win_ok=1; failed=$((failed + 1)); echo "FAILED: Windows build"
fi

win_tests=""
if [ $win_ok -eq 0 ]; then
  if ! wait "$server_job"; then
    cat "$logs/server"
    echo "warning: no lasting Wine server; each test starts its own" >&2
  fi
  # The tests under Wine, several at once: each has its own temporary folders, the GUI test
  # its own X server, and they share the prefix through the one server.
  ctest --test-dir build/win --output-on-failure -j"$((jobs * 2))" >"$logs/win" 2>&1 &
  win_tests=$!
  step "Windows tests under Wine started"
fi
if [ -n "$asan_build" ]; then
  # The Windows build is done: the native build now shares the cores as an equal (where the
  # user may raise a priority again; elsewhere it stays lower, which only costs time).
  renice_tree "$asan_build"
fi

if [ -n "$asan_build" ]; then wait "$asan_build"; fi
step "Native build (AddressSanitizer, UndefinedBehaviorSanitizer)"
if [ $asan_ok -eq 0 ]; then cat "$logs/asan-build"; fi
if [ $asan_ok -eq 0 ] && [ "$(cat "$logs/asan-build.status" 2>/dev/null)" = 0 ]; then
  asan_ok=0
else
  asan_ok=1; failed=$((failed + 1)); echo "FAILED: native build"
fi

cross=""
if [ $asan_ok -eq 0 ] && [ $win_ok -eq 0 ]; then
  # Files of one build read by the other: Wine starts, beside the native tests.
  ( scripts/cross-check.sh build/asan/cli/ferrywick-cli build/win/cli/ferrywick-cli.exe \
      >"$logs/cross" 2>&1; echo $? >"$logs/cross.status" ) &
  cross=$!
fi
if [ $asan_ok -eq 0 ]; then
  step "Native tests"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build/asan --output-on-failure -j"$jobs" 2>&1 | tee "$logs/asan"
  count_ctest "$logs/asan"
fi

if [ -n "$win_tests" ]; then
  wait "$win_tests"
  step "Windows tests under Wine"
  cat "$logs/win"
  count_ctest "$logs/win"
fi
if [ -n "$cross" ]; then
  wait "$cross"
  step "Files of one build read by the other"
  cat "$logs/cross"
  count_stage "cross-build check" "$logs/cross.status"
fi

step "Done"
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
