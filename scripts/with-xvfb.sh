#!/usr/bin/env bash
# Runs a command with DISPLAY set to a virtual X server of its own (1024x768, 24 bits), and
# exits with the command's exit code.
# Usage: scripts/with-xvfb.sh COMMAND [ARGUMENTS...]
# The server picks a free display number itself (-displayfd), so runs that start at the same
# time, also other people's, never race for one as "xvfb-run -a" can.
set -euo pipefail
if [ $# -lt 1 ]; then
  echo "usage: $0 command [arguments...]" >&2
  exit 2
fi
fifo_dir=$(mktemp -d "${TMPDIR:-/tmp}/fw-xvfb.XXXXXX")
xvfb_pid=""
cleanup() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$fifo_dir"
}
trap cleanup EXIT
mkfifo "$fifo_dir/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo_dir/display" >"$fifo_dir/log" 2>&1 &
xvfb_pid=$!
number=""
read -r -t 30 number <"$fifo_dir/display" || true
if [ -z "$number" ]; then
  echo "$0: Xvfb did not start:" >&2
  cat "$fifo_dir/log" >&2
  exit 1
fi
export DISPLAY=":$number"
# The command's output goes through a file: a program it leaves behind (a shell helper Wine
# started for it) would keep a pipe open, and whoever reads ours (ctest) would wait for it.
set +e
"$@" >"$fifo_dir/output" 2>&1
status=$?
set -e
cat "$fifo_dir/output"
exit $status
