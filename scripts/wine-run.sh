#!/usr/bin/env bash
# Runs a Windows executable under Wine with a private, quiet prefix, and exits with the
# executable's exit code (Wine passes on its low 8 bits).
#
# WINEPREFIX defaults to "wineprefix" in the build folder (the nearest folder above the
# executable holding CMakeCache.txt). The first run creates the prefix; runs started at the
# same time (ctest -j) wait for it under a lock instead of racing on a half-made prefix.
#
#   wine-run.sh --server start|stop BUILD_DIR
# makes the prefix of BUILD_DIR (or WINEPREFIX) if needed and starts a Wine server on it that
# stays until "stop" (scripts/test.sh: programs started meanwhile never race the server's own
# start and end, and start faster), or ends that server and every program still running on it.
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 program.exe [arguments...] | $0 --server start|stop BUILD_DIR" >&2
  exit 2
fi
server=""
if [ "$1" = --server ]; then
  if [ $# -ne 3 ] || { [ "$2" != start ] && [ "$2" != stop ]; }; then
    echo "usage: $0 --server start|stop BUILD_DIR" >&2
    exit 2
  fi
  server=$2
  mkdir -p "$3"
  exe=$3/.
  shift 3
else
  exe=$1; shift
fi

if [ -z "${WINEPREFIX:-}" ]; then
  start=$(cd "$(dirname "$exe")" && pwd)
  dir=$start
  while [ "$dir" != "/" ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  if [ "$dir" = "/" ]; then dir=$start; fi
  WINEPREFIX="$dir/wineprefix"
fi
export WINEPREFIX
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer prompts, no menu entries or file associations in the user's home.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=d;winemenubuilder.exe=d"}

# The 64-bit loader itself: Debian's "wine" wrapper looks for the 32-bit one first and
# prints a hint about it on every start.
wine=""
for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" \
                 "$(command -v wine || true)"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then wine=$candidate; break; fi
done
if [ -z "$wine" ]; then
  echo "$0: wine is not installed" >&2
  exit 127
fi
export WINELOADER=$wine
wineserver=""
for candidate in /usr/lib/wine/wineserver64 "$(command -v wineserver || true)"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then wineserver=$candidate; break; fi
done

if [ "$server" = stop ]; then
  # Ends the server and what still runs on the prefix; nothing to do when none runs.
  if [ -n "$wineserver" ]; then
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w 2>/dev/null || true
  fi
  exit 0
fi

ready="$WINEPREFIX/.ferrywick-ready"
if [ ! -f "$ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$ready" ]; then
    # A prefix left half-made by an interrupted run is finished by the same call.
    if ! "$wine" wineboot.exe --init >"$WINEPREFIX.log" 2>&1; then
      echo "$0: creating the Wine prefix $WINEPREFIX failed; see $WINEPREFIX.log" >&2
      exit 1
    fi
    # The registry reaches the disk when the server ends.
    if [ -n "$wineserver" ]; then "$wineserver" -w >>"$WINEPREFIX.log" 2>&1 || true; fi
    touch "$ready"
  fi
  exec 9>&-
fi

if [ "$server" = start ]; then
  if [ -z "$wineserver" ]; then
    echo "$0: wineserver is not installed" >&2
    exit 127
  fi
  # A server left by an interrupted run (or still lingering after its last program) goes
  # first: only one runs per prefix. Then one that stays until "stop" (-p: persistent).
  "$wineserver" -k 2>/dev/null || true
  "$wineserver" -w 2>/dev/null || true
  # It goes on in the background; its output goes to the log, not to the caller's pipe.
  "$wineserver" -p </dev/null >>"$WINEPREFIX.log" 2>&1
  # The first program brings up the prefix's service processes (services.exe, winedevice.exe,
  # rpcss.exe...), which now stay as long as the server. Started here, they hold the log open;
  # started by a test, they would hold its output pipe, and ctest would wait for that until the
  # test's timeout.
  exec "$wine" cmd.exe /c exit </dev/null >>"$WINEPREFIX.log" 2>&1
fi

# exec: the exit code is the executable's own.
exec "$wine" "$exe" "$@"
