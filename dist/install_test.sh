#!/usr/bin/env bash
# The installed tree of the native build: cmake --install into a temporary prefix, then the
# tool there runs and tells its version, its man page renders without warnings, and the bash
# completion sources cleanly and completes commands, options and file names. The man page and
# the completion know every command and option that --help lists.
# Usage: install_test.sh CMAKE BUILD_DIR VERSION
set -uo pipefail
cmake=$1
build=$2
version=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/fw-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

check() {  # check NAME CONDITION...
  local name=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $name"; fi
}
is() { [ "$1" = "$2" ] || { echo "  got:      $1"; echo "  expected: $2"; return 1; }; }

prefix=$work/usr
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1
check "cmake --install" is "$?" 0 || cat "$work/install.log"
cli=$prefix/bin/ferrywick-cli
man=$prefix/share/man/man1/ferrywick-cli.1.gz
completion=$prefix/share/bash-completion/completions/ferrywick-cli
check "the tool is installed" test -x "$cli"
check "the man page is installed" test -f "$man"
check "the completion is installed" test -f "$completion"
check "nothing else is installed" is \
  "$(cd "$prefix" && find . -type f | sort | tr '\n' ' ')" \
  "./bin/ferrywick-cli ./share/bash-completion/completions/ferrywick-cli ./share/man/man1/ferrywick-cli.1.gz "

# The version, on stdout alone, from the one the build was configured with.
out=$("$cli" --version 2>"$work/err"); rc=$?
check "--version exits 0" is "$rc" 0
check "--version prints the name and the version" is "$out" "ferrywick-cli $version"
check "--version writes nothing on stderr" test ! -s "$work/err"

# The man page: the version filled in, readable by man without a warning, its NAME line found.
gzip -dc "$man" >"$work/man.roff"
check "the man page tells the version" grep -q "^\.TH FERRYWICK-CLI 1 .*\"ferrywick-cli $version\"" "$work/man.roff"
LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$man" >"$work/man.txt" 2>"$work/man.err"
check "man renders the page" is "$?" 0
check "man renders it without warnings" test ! -s "$work/man.err" || cat "$work/man.err"
check "the page has its sections" bash -c \
  'for s in NAME SYNOPSIS COMMANDS OPTIONS "EXIT STATUS" EXAMPLES; do grep -q "^$s" "$1" || exit 1; done' \
  _ "$work/man.txt"
check "lexgrog finds the name line" is "$(LC_ALL=C.UTF-8 lexgrog "$man" | sed 's/^[^:]*: //')" \
  '"ferrywick-cli - compare and synchronise folder trees, also between machines with no connection"'

# Every command and option of the usage text is on the page and in the completion.
"$cli" --help >"$work/help"
mapfile -t commands < <(sed -n '/^Commands:/,/^$/p' "$work/help" | sed -nE 's/^  ([a-z][a-z-]*).*/\1/p')
mapfile -t options < <(grep -oE '(^|[ ,])--?[a-z][a-z-]*' "$work/help" | sed -E 's/^[ ,]//' | sort -u)
check "the usage text lists commands and options" test ${#commands[@]} -ge 7 -a ${#options[@]} -ge 15
sed 's/\\-/-/g' "$work/man.roff" >"$work/man.plain"
for word in "${commands[@]}" "${options[@]}"; do
  check "the man page has $word" grep -qE -- "(^|[^a-z-])$word([^a-z-]|\$)" "$work/man.plain"
  check "the completion has $word" grep -qE -- "(^|[\" ])$word([\" ]|\$)" "$completion"
done
exits=$(grep -oE '[0-9]+ (success|compare found|the operation|usage)' "$work/help" | cut -d' ' -f1)
for status in $exits 130; do
  check "the man page has exit status $status" grep -qxF ".B $status" "$work/man.roff"
done

# The completion: sourced with -u in a bare shell it says nothing and registers itself; then
# what it offers for a few command lines, in a folder of known files.
mkdir -p "$work/files/photos" && touch "$work/files/p.fwp" "$work/files/d.fwd" "$work/files/s.fws"
complete_words() {  # complete_words WORD...: the last word is the one being completed
  (cd "$work/files" && bash --norc --noprofile -u -c '
    source "$1" || exit 1; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _ferrywick_cli
    for w in "${COMPREPLY[@]}"; do echo "$w"; done | sort | tr "\n" " "' _ "$completion" ferrywick-cli "$@")
}
check "the completion sources cleanly" is \
  "$(bash --norc --noprofile -u -c 'source "$1" && complete -p ferrywick-cli' _ "$completion" 2>&1)" \
  "complete -F _ferrywick_cli ferrywick-cli"
check "a command prefix" is "$(complete_words sa)" "save-diff save-project save-state "
check "every command" is "$(complete_words "")" "compare roots save-diff save-project save-state sync verify "
check "a command after options and their values" is "$(complete_words --split 5 --json co)" "compare "
check "an option prefix" is "$(complete_words sync --no)" "--no-verify "
check "a new option" is "$(complete_words sync --allow)" "--allow-mass-delete "
check "the sides of --side" is "$(complete_words save-state --side "")" "source target "
check "no command after the command" is "$(complete_words compare co)" ""
check "files and folders as sides" is "$(complete_words compare "")" "d.fwd p.fwp photos s.fws "
check "a project file or a folder" is "$(complete_words compare --project "")" "p.fwp photos "
check "verify takes a difference" is "$(complete_words verify "")" "d.fwd photos "
check "a folder for backups" is "$(complete_words sync --backup-dir "")" "photos "
check "nothing to offer for a mask" is "$(complete_words sync --flags-src "")" ""

echo "install: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
