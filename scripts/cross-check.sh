#!/usr/bin/env bash
# Files written by one build are read by the other with the same result: state, difference
# and project files from the native ferrywick-cli are used by the Windows one under Wine, and
# the other way round.
# Usage: scripts/cross-check.sh NATIVE_CLI WINDOWS_CLI_EXE
set -uo pipefail
native=$1
windows=$2
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/fw-cross.XXXXXX")
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

z() { local w=${1//\//\\}; printf 'Z:%s' "$w"; }
nat() { "$native" "$@"; }
win() { "$here/scripts/wine-run.sh" "$windows" "$@" | tr -d '\r'; return "${PIPESTATUS[0]}"; }
check() {
  local name=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $name"; fi
}
same() { [ "$1" = "$2" ] || { echo "  one:   ${1:0:300}"; echo "  other: ${2:0:300}"; false; }; }

"$here/scripts/make-sample.sh" "$work" >/dev/null
A="$work/source"; B="$work/target"
head -c 2500000 /dev/urandom >"$A/Photos/2024/more.bin"

for writer in native windows; do
  out="$work/$writer"; mkdir -p "$out"
  if [ $writer = native ]; then
    nat save-state -o "$out/b.fws" "$B" >/dev/null
    nat save-diff --mirror --split 1 -o "$out/d.fwd" "$A" "$out/b.fws" >/dev/null
    nat save-project -o "$out/p.fwp" --source "$A" --source "" --target "$B" >/dev/null
  else
    win save-state -o "$(z "$out/b.fws")" "$(z "$B")" >/dev/null
    win save-diff --mirror --split 1 -o "$(z "$out/d.fwd")" "$(z "$A")" "$(z "$out/b.fws")" >/dev/null
    win save-project -o "$(z "$out/p.fwp")" --source "$(z "$A")" --source "" --target "$(z "$B")" >/dev/null
  fi
  check "$writer wrote a split difference" test -f "$out/d.002.fwd"

  # Both builds read the same rows and the same comparison from these files.
  check "project rows from $writer" same "$(nat roots "$out/p.fwp" | wc -l)" "$(win roots "$(z "$out/p.fwp")" | wc -l)"
  check "state roots from $writer" same "$(nat roots "$out/b.fws")" "$(win roots "$(z "$out/b.fws")")"
  check "difference from $writer verifies natively" eval 'nat verify "$out/d.fwd" >/dev/null'
  check "difference from $writer verifies on Windows" eval 'win verify "$(z "$out/d.fwd")" >/dev/null'
  check "comparison against the state from $writer" same \
    "$(nat compare --json --mirror "$A" "$out/b.fws")" \
    "$(win compare --json --mirror "$(z "$A")" "$(z "$out/b.fws")")"

  # Each build applies the difference into its own copy of B.
  cp -a "$B" "$out/B-native"; cp -a "$B" "$out/B-windows"
  nat sync --mirror "$out/d.fwd" "$out/B-native" >/dev/null
  win sync --mirror "$(z "$out/d.fwd")" "$(z "$out/B-windows")" >/dev/null
  check "native applied $writer's difference" diff -r -x Thumbs.db "$A" "$out/B-native"
  check "windows applied $writer's difference" diff -r -x Thumbs.db "$A" "$out/B-windows"
done

# The two builds wrote the same bytes once inflated: compare the state files' contents.
check "both builds' state files list the same trees" same \
  "$(nat compare --json "$work/native/b.fws" "$B" | sed 's/"modified":[0-9]*//g')" \
  "$(nat compare --json "$work/windows/b.fws" "$B" | sed 's/"modified":[0-9]*//g')"

echo "cross-build check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
