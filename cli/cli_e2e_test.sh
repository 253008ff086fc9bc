#!/usr/bin/env bash
# End-to-end tests of ferrywick-cli on real temporary folders.
# Usage: cli_e2e_test.sh CLI [RUNNER]
#   CLI     the built ferrywick-cli (or ferrywick-cli.exe)
#   RUNNER  a program to run it with (scripts/wine-run.sh for the .exe); paths are then handed
#           over in Wine's Z: form
set -uo pipefail
cli=$1
runner=${2:-}
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/fw-cli-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

# A path as the tool under test takes it.
p() {
  if [ -n "$runner" ]; then
    local w=${1//\//\\}
    printf 'Z:%s' "$w"
  else
    printf '%s' "$1"
  fi
}

# fw ARGS...: runs the tool; stdout in $work/out, stderr in $work/err, status in $rc.
fw() {
  if [ -n "$runner" ]; then "$runner" "$cli" "$@" >"$work/out" 2>"$work/err"
  else "$cli" "$@" >"$work/out" 2>"$work/err"; fi
  rc=$?
  tr -d '\r' <"$work/out" >"$work/out.lf" && mv "$work/out.lf" "$work/out"
}

check() {  # check NAME CONDITION...
  local name=$1; shift
  if "$@"; then passed=$((passed + 1)); else
    failed=$((failed + 1))
    echo "FAILED: $name"
    echo "  stdout: $(head -c 600 "$work/out")"
    echo "  stderr: $(head -c 600 "$work/err")"
  fi
}

is() { [ "$1" = "$2" ]; }
has() { grep -q -- "$2" "$1"; }
json_ok() { python3 -c 'import json,sys; [json.loads(l) for l in open(sys.argv[1]) if l.strip()]' "$1"; }
json_get() { python3 -c 'import json,sys; print(eval(sys.argv[2], {"j": [json.loads(l) for l in open(sys.argv[1]) if l.strip()]}))' "$1" "$2"; }
same_tree() { diff -r -x Thumbs.db "$1" "$2" >/dev/null; }
tree_sum() { (cd "$1" && find . -printf '%p %s %T@\n' | sort | md5sum); }

"$here/scripts/make-sample.sh" "$work" >/dev/null
S="$work/source"; T="$work/target"

# Usage and help.
fw --help;                               check "help" is "$rc" 0
check "help text" has "$work/out" "save-diff"
# Every option the usage lists (the settings' from their table) is in the man page, with the
# default and the range the usage gives it, and in the bash completion, among the valued options
# when it takes a value.
usage_options_documented() {
  python3 - "$work/out" "$here/docs/ferrywick-cli.1.in" \
    "$here/dist/ferrywick-cli.bash-completion" <<'PY'
import re, sys
usage, man, completion = (open(path).read() for path in sys.argv[1:4])
listed = re.search(r'_ferrywick_cli_options="([^"]*)"', completion).group(1).split()
valued = "".join(re.findall(r'_ferrywick_cli_valued\+?="([^"]*)"', completion)).split()

def man_paragraph(option):  # the man page's paragraph that starts with the option
    escaped = re.escape(option.replace("-", "\\-")) + r"(?![a-z\\])"
    for part in re.split(r"\n\.(?:TP|SH)\n", man):
        if re.search(escaped, part.split("\n", 1)[0]): return part
    return None

blocks = []  # each option line of the usage with its further lines
for line in usage.splitlines():
    if line.startswith("  -"): blocks.append(line)
    elif blocks and line.startswith(" " * 21): blocks[-1] += " " + line.strip()
    elif not line.startswith(" "): blocks.append("")
missing = []
for block in blocks:
    head = block.split("  ")[1] if block else ""
    for m in re.finditer(r"(?:^|, )(--?[a-z][a-z-]*)( [A-Za-z|.]+)?", head):
        option, value = m.group(1), m.group(2)
        if option not in listed: missing.append(option + " (completion)")
        if value and option not in valued: missing.append(option + " (completion's values)")
        text = man_paragraph(option)
        if text is None:
            missing.append(option + " (man page)")
            continue
        words = re.sub(r"\n\.[A-Z]+ |\n| \)", " ", text)
        for default in re.findall(r"\(default ([^)]+)\)", block):
            if "default " + default not in words: missing.append(option + " default " + default)
        for least, most in re.findall(r"\((\d+) to (\d+)", block):
            if least + " to " + most not in words: missing.append(option + " range")
print(" ".join(missing))
sys.exit(1 if missing else 0)
PY
}
check "usage options in man page and completion" usage_options_documented
fw --version;                            check "version" is "$rc" 0
fw frobnicate a b;                       check "unknown command" is "$rc" 64
fw compare --bogus a b;                  check "unknown option" is "$rc" 64
fw save-diff --split 0 -o x.fwd a b;     check "split too small" is "$rc" 64
check "split message" has "$work/err" "The split limit is too small, must be at least 1 MB!"
fw compare --flags-src 0x0C a b;         check "category in both masks" is "$rc" 64

# compare: entries with actions, in walk order, then totals; identical trees exit 0.
fw compare "$(p "$S")" "$(p "$T")";      check "compare finds actions" is "$rc" 1
check "compare lists an only-in-source file" has "$work/out" "to-anna.txt"
check "ignored names are left out" bash -c "! grep -q Thumbs.db '$work/out'"
fw compare --json "$(p "$S")" "$(p "$T")"
check "compare --json exit" is "$rc" 1
check "every line is JSON" json_ok "$work/out"
check "last line has the totals" is "$(json_get "$work/out" '"totals" in j[-1]')" True
check "folder before its entries" is \
  "$(json_get "$work/out" '[e["path"] for e in j[:-1]].index("Projects") < [e["path"] for e in j[:-1]].index("Projects/new-idea/plan.md")')" True
check "an added file's fields" is \
  "$(json_get "$work/out" '[(e["kind"],e["action"],e["changes"],e["flags"],e["target"]) for e in j[:-1] if e["path"].endswith("to-anna.txt")][0]')" \
  "('file', 'add', 'target', ['OnlyInSource'], None)"
check "newer in target goes to the source" is \
  "$(json_get "$work/out" '[e["changes"] for e in j[:-1] if e["path"]=="Music/mix.txt"][0]')" source
cp -a "$S" "$work/source-copy"  # not S itself: one folder on both sides is refused (below)
fw compare "$(p "$S")" "$(p "$work/source-copy")"; check "identical trees" is "$rc" 0
fw compare "$(p "$S")" "$(p "$work/missing")"
check "missing target root still compares" is "$rc" 1
check "missing root noted" has "$work/err" "note: target folder .*missing does not exist; a sync creates it"
# The commonest first use: a sync into a backup folder that is not there yet is whole.
fw sync --mirror --json "$(p "$S")" "$(p "$work/new/backup")"
check "first sync into a new folder exits 0" is "$rc" 0
check "first sync into a new folder: result Ok" is "$(json_get "$work/out" 'j[-1]["result"], j[-1]["leftOut"]')" "('Ok', 0)"
check "first sync into a new folder: no warning" bash -c "! grep -q warning '$work/err'"
check "first sync into a new folder: copied" same_tree "$S" "$work/new/backup"

# sync --dry-run changes nothing; a sync with the defaults leaves nothing to do.
cp -a "$S" "$work/s1"; cp -a "$T" "$work/t1"
before=$(tree_sum "$work/t1")
fw sync --dry-run "$(p "$work/s1")" "$(p "$work/t1")"
check "dry run exit" is "$rc" 0
check "dry run changes nothing" is "$(tree_sum "$work/t1")" "$before"
fw sync --json "$(p "$work/s1")" "$(p "$work/t1")"
check "sync exit" is "$rc" 0
check "sync result line" is "$(json_get "$work/out" 'j[-1]["result"], j[-1]["ok"]["addedFiles"], j[-1]["failed"]["addedFiles"]')" "('Ok', 5, 0)"
fw compare "$(p "$work/s1")" "$(p "$work/t1")"
check "nothing left after sync" is "$rc" 0

# Several rows and a project file.
fw save-project -o "$(p "$work/p.fwp")" --source "$(p "$work/s1")" --source "$(p "$S")" \
  --target "$(p "$work/t1")"
check "save-project" is "$rc" 0
fw roots "$(p "$work/p.fwp")"
check "roots of a project" is "$(wc -l <"$work/out")" 2
fw compare --json --project "$(p "$work/p.fwp")"
check "project rows compare" is "$rc" 1
check "second row carries row 1" is "$(json_get "$work/out" 'sorted({e["row"] for e in j[:-1]})')" "[1]"

# The sneakernet round trip: state of B, difference of A against it in 1 MiB volumes, sync the
# difference into B, and B equals A.
cp -a "$S" "$work/A"; cp -a "$T" "$work/B"
head -c 2800000 /dev/urandom >"$work/A/Photos/2024/more.bin"
fw save-state -o "$(p "$work/b.fws")" "$(p "$work/B")"
check "save-state" is "$rc" 0
fw roots "$(p "$work/b.fws")"
check "roots of a state" is "$(wc -l <"$work/out")" 1
fw save-diff --mirror --split 1 --json -o "$(p "$work/d.fwd")" "$(p "$work/A")" "$(p "$work/b.fws")"
check "save-diff" is "$rc" 0
check "save-diff result" is "$(json_get "$work/out" 'j[-1]["result"]')" Ok
check "three volumes or more" test -f "$work/d.002.fwd"
check "a full first volume" is "$(stat -c %s "$work/d.fwd")" 1048576
check "a full second volume" is "$(stat -c %s "$work/d.001.fwd")" 1048576
fw verify "$(p "$work/d.fwd")";         check "verify a whole set" is "$rc" 0
fw verify "$(p "$work/d.002.fwd")";     check "verify from a later volume" is "$rc" 0
fw sync --flags-src 0xD8 --flags-trg 0x24 "$(p "$work/b.fws")" "$(p "$work/B")" --json
check "sync from a state is refused" is "$rc" 2
check "refusal names BadRequest" is "$(json_get "$work/out" 'j[-1]["result"]')" BadRequest

# Damaged sets are refused before the target is touched.
before=$(tree_sum "$work/B")
mv "$work/d.001.fwd" "$work/d.001.keep"
fw verify "$(p "$work/d.fwd")";         check "verify missing volume" is "$rc" 2
fw sync --mirror "$(p "$work/d.fwd")" "$(p "$work/B")"
check "sync with a missing volume fails" is "$rc" 2
check "nothing touched by the refused sync" is "$(tree_sum "$work/B")" "$before"
cp "$work/d.001.keep" "$work/d.001.fwd"
head -c 500000 "$work/d.001.keep" >"$work/d.001.fwd"
fw verify "$(p "$work/d.fwd")";         check "verify truncated volume" is "$rc" 2
mv "$work/d.001.keep" "$work/d.001.fwd"
cp -a "$work/B" "$work/B2"
fw sync --mirror "$(p "$work/d.fwd")" "$(p "$work/B")"
check "sync from the difference" is "$rc" 0
check "B equals A byte for byte" same_tree "$work/A" "$work/B"
fw compare --mirror "$(p "$work/A")" "$(p "$work/B")"
check "nothing left after the round trip" is "$rc" 0
fw verify "$(p "$work/d.001.fwd")";     check "verify from the middle volume" is "$rc" 0
fw sync --mirror "$(p "$work/d.001.fwd")" "$(p "$work/B2")"
check "sync from a later volume" is "$rc" 0
check "B2 equals A byte for byte" same_tree "$work/A" "$work/B2"

# Applying a difference: what the receiving side ignores is listed as ignored and is no
# failure; a target root that would receive nothing is not made.
mkdir -p "$work/ig/src/logs" "$work/ig/trg"
printf a >"$work/ig/src/a.txt"; printf l >"$work/ig/src/m.log"; printf x >"$work/ig/src/logs/x.log"
fw save-diff --mirror -o "$(p "$work/ig.fwd")" "$(p "$work/ig/src")" "$(p "$work/ig/trg")"
check "save-diff with files the target ignores" is "$rc" 0
fw sync --dry-run --mirror --ignore '*.log' "$(p "$work/ig.fwd")" "$(p "$work/ig/trg")"
check "an ignored entry is listed as ignored" has "$work/out" "^ignored .*m\.log"
fw sync --mirror --ignore '*.log' "$(p "$work/ig.fwd")" "$(p "$work/ig/trg")"
check "an ignored entry is no failure" is "$rc" 0
check "no failure named" is "$(grep -c 'failed:' "$work/err")" 0
check "the ignored file is not written" test ! -e "$work/ig/trg/m.log" -a ! -e "$work/ig/trg/logs/x.log"
check "the rest is written" is "$(cat "$work/ig/trg/a.txt")" a
fw sync --mirror --ignore '*' "$(p "$work/ig.fwd")" "$(p "$work/ig/none/deeper")"
check "a root that receives nothing is not made" test ! -e "$work/ig/none"

# A named volume is read only as that volume of the set its name gives. On the stick: an older
# complete difference d.fwd whose mirror would delete most of C, and the last volume of the
# newer set above, whose first volume never arrived.
stick="$work/stick"; mkdir -p "$stick" "$work/few" "$work/C"
printf 'f' >"$work/few/f.txt"; printf 'f' >"$work/C/f.txt"; printf 'g' >"$work/C/g.txt"
printf 'h' >"$work/C/h.txt"
fw save-diff --mirror -o "$(p "$stick/d.fwd")" "$(p "$work/few")" "$(p "$work/C")"
check "save-diff of the older set" is "$rc" 0
cp "$work/d.002.fwd" "$stick/d.002.fwd"
: >"$stick/pc.2024.fwd"; cp "$stick/d.fwd" "$stick/pc.fwd"
before=$(tree_sum "$work/C")
fw verify "$(p "$stick/d.002.fwd")";    check "verify a volume beyond its set" is "$rc" 2
check "the refusal says why" has "$work/err" \
  "d.002.fwd is not part of the set that begins with d.fwd, which has 1 volume"
fw sync --mirror --allow-mass-delete "$(p "$stick/d.002.fwd")" "$(p "$work/C")"
check "sync from a volume beyond its set" is "$rc" 2
check "the sync's refusal says why" has "$work/err" "which has 1 volume"
fw verify "$(p "$stick/pc.2024.fwd")";  check "verify a file named like a volume" is "$rc" 2
fw sync --mirror --allow-mass-delete "$(p "$stick/pc.2024.fwd")" "$(p "$work/C")"
check "sync from a file named like a volume" is "$rc" 2
check "nothing touched by the refused syncs" is "$(tree_sum "$work/C")" "$before"
# A save leaves alone what bears a volume's name but is no volume of the set it replaces:
# volumes of another set, a file of the user's.
cp "$work/d.001.fwd" "$stick/week.001.fwd"; cp "$work/d.002.fwd" "$stick/week.002.fwd"
printf 'my notes' >"$stick/memo.001.fwd"
for saved in week memo; do
  fw save-diff --mirror -o "$(p "$stick/$saved.fwd")" "$(p "$work/few")" "$(p "$work/C")"
  check "save-diff to $saved.fwd" is "$rc" 0
done
check "another set's volumes are kept" cmp -s "$work/d.001.fwd" "$stick/week.001.fwd"
check "another set's last volume is kept" cmp -s "$work/d.002.fwd" "$stick/week.002.fwd"
check "a text file is kept" is "$(cat "$stick/memo.001.fwd")" "my notes"

# A saved side with fewer roots than the other side has rows: the rows past it are empty there.
mkdir -p "$work/T2"; printf 'x' >"$work/T2/only.txt"
for saved in d.fwd b.fws; do
  fw compare --json --source "$(p "$work/$saved")" --target "$(p "$work/B")" --target "$(p "$work/T2")"
  check "rows past the roots of $saved" is "$rc" 1
  check "the second row of $saved is the target's" is "$(json_get "$work/out" '[e["path"] for e in j[:-1] if e["row"] == 1]')" "['only.txt']"
done

# Saving over a longer set leaves no volume of it behind.
fw save-diff --mirror --split 1 -o "$(p "$work/d.fwd")" "$(p "$work/A")" "$(p "$work/B")"
check "save-diff over a set" is "$rc" 0
check "no old volume left" test ! -e "$work/d.001.fwd" -a ! -e "$work/d.002.fwd"
fw verify "$(p "$work/d.fwd")";         check "verify the new set" is "$rc" 0
check "no temporary file left" is "$(ls "$work" | grep -c fwtmp)" 0

# A save that an entry fails names the entry and leaves the old file as it was.
if [ -z "$runner" ]; then  # a tree deeper than the formats allow: paths too long for Wine's Z:
  deep="$work/deep"; for i in $(seq 1 515); do deep="$deep/d"; done
  mkdir -p "$deep"; printf 'old' >"$work/deep.fws"
  fw save-state -o "$work/deep.fws" "$work/deep"
  check "a failing entry fails the save" is "$rc" 2
  check "the failing entry is named" has "$work/err" "cannot save: .*/d/d/d could not be read completely"
  check "the old state is kept" is "$(cat "$work/deep.fws")" old
  check "no temporary file left by the failure" is "$(ls "$work" | grep -c fwtmp)" 0
  rm -rf "$work/deep"
fi

# Files that are no file of ours.
printf 'not a file of ours' >"$work/junk.fws"
fw roots "$(p "$work/junk.fws")";        check "roots of junk" is "$rc" 2
check "wrong format message" has "$work/err" "Wrong file format!"
check "wrong format message names the file" has "$work/err" "junk.fws is damaged, or it is not a file of this program"
fw compare "$(p "$work/junk.fws")" "$(p "$T")"
check "junk as a side" is "$rc" 2
# Damage anywhere in a saved file is named, whether the list of its roots shows it or only the
# comparison that merges its trees does.
fw save-state -o "$(p "$work/whole.fws")" "$(p "$S")"
head -c $(( $(stat -c %s "$work/whole.fws") / 2 )) "$work/whole.fws" >"$work/half.fws"
fw roots "$(p "$work/half.fws")";        check "roots of a state cut in half" is "$rc" 2
fw compare "$(p "$work/half.fws")" "$(p "$T")"
check "a state cut in half is named as damaged" has "$work/err" "half.fws is damaged, or it is not a file of this program"
python3 - "$work/twice.fws" <<'EOF2'
import struct, sys, zlib
record = b"a\0" + struct.pack("<QQB", 132500000000000000, 1, 1)
body = zlib.compress(b"R\0\0" + record + record + b"\0")
open(sys.argv[1], "wb").write(b"KTRV_FWS\x01\x00" + struct.pack("<IBI", 0, 3, 19 + len(body)) + body)
EOF2
fw compare "$(p "$work/twice.fws")" "$(p "$T")"
check "a name twice in a folder of a state" is "$rc" 2
check "damage the comparison meets names the file" has "$work/err" "Wrong file format! .*twice.fws is damaged"
fw save-project -o "$(p "$work/p.fwp")" --source "$(p "$S")" --target "$(p "$T")"
cat "$work/p.fwp" - <<<"junk" >"$work/junk.fwp"
fw roots "$(p "$work/junk.fwp")";        check "a project with junk after it" is "$rc" 2

# What was not there or could not be handled is never taken for empty, and is named.
X="$work/x"; mkdir -p "$X/trg/d" "$X/src"
echo a >"$X/trg/a.txt"; echo b >"$X/trg/d/b.txt"
fw sync --mirror --json "$(p "$X/unmounted")" "$(p "$X/trg")"
check "sync from a missing root exits 1" is "$rc" 1
check "missing root warned in its own words" has "$work/err" "source folder .*unmounted does not exist"
check "missing root empties nothing" test -f "$X/trg/d/b.txt"
check "missing root: result says so" is "$(json_get "$work/out" 'j[-1]["result"], j[-1]["leftOut"]')" "('Incomplete', 1)"
for how in compare "sync --dry-run"; do
  fw $how --mirror "$(p "$X/unmounted")" "$(p "$X/trg")"
  check "missing root: $how lists the target's entries" has "$work/out" "a.txt"
  check "missing root: $how lists no deletion" bash -c "! grep -q '^delete' '$work/out'"
  check "missing root: $how totals delete nothing" bash -c "! grep -q 'delete [1-9]' '$work/out'"
done
fw save-diff "$(p "$X/unmounted")" "$(p "$X/trg")" -o "$(p "$X/u.fwd")"
check "difference of a missing root refused" is "$rc" 2
check "refusal names the root" has "$work/err" "cannot save: .*unmounted does not exist"
check "nothing written for a refused save" test ! -e "$X/u.fwd"
echo keep >"$X/trg/locked.txt"; chmod a-w "$X/trg/locked.txt"
fw sync --mirror --allow-mass-delete --json "$(p "$X/src")" "$(p "$X/trg")"
check "sync with a failure exits 1" is "$rc" 1
check "failed entry named on stderr" has "$work/err" "failed: .*locked.txt: cannot delete: access is denied"
check "failed entry's cause in JSON" is "$(json_get "$work/out" '[e["status"] for e in j if "failed" in e and isinstance(e["failed"], str)]')" "['access-denied']"
check "failed entry named in JSON" is "$(json_get "$work/out" '[e["failed"][-10:] for e in j if "failed" in e and isinstance(e["failed"], str)]')" "['locked.txt']"
check "others deleted" test ! -e "$X/trg/a.txt"
chmod u+w "$X/trg/locked.txt"
# --log-file: what the sync did, what failed and why, and the totals; a log that cannot be
# written is a warning, never a failed sync.
L="$work/log"; mkdir -p "$L/src" "$L/trg"
echo new >"$L/src/new.txt"; echo old >"$L/trg/old.txt"
echo keep >"$L/trg/locked.txt"; chmod a-w "$L/trg/locked.txt"
fw sync --mirror --allow-mass-delete --log-file "$(p "$L/run.log")" "$(p "$L/src")" "$(p "$L/trg")"
check "sync with a log exits 1 for its failure" is "$rc" 1
tr -d '\r' <"$L/run.log" >"$L/run.lf" 2>/dev/null
check "log: the row" has "$L/run.lf" "^Row 1: .*src -> .*trg$"
check "log: copied" has "$L/run.lf" "^copied .*new.txt$"
check "log: deleted" has "$L/run.lf" "^deleted .*old.txt$"
check "log: the failure with why" has "$L/run.lf" "^failed .*locked.txt: cannot delete: access is denied"
check "log: totals" has "$L/run.lf" "^  Added files: *1 *0$"
check "log: its end" has "$L/run.lf" "^Ended: *[0-9-]* [0-9:]* [+-][0-9][0-9]:[0-9][0-9]$"
chmod u+w "$L/trg/locked.txt"
fw sync --quiet --log-file "$(p "$L/nowhere/run.log")" "$(p "$L/src")" "$(p "$L/trg")"
check "unwritable log: the sync succeeds" is "$rc" 0
check "unwritable log: a warning" has "$work/err" "warning: cannot create the log .*run.log"
fw compare --log-file "$(p "$L/c.log")" "$(p "$L/src")" "$(p "$L/trg")"
check "--log-file belongs to sync" is "$rc" 64
mkdir -p "$X/k1" "$X/k2/kind"; echo f >"$X/k1/kind"; echo x >"$X/k2/kind/inner"
mkdir -p "$X/k1/other"; echo ii >"$X/k1/other/inner"; echo xyz >"$X/k2/other"
fw compare "$(p "$X/k1")" "$(p "$X/k2")"
check "file against folder is listed" has "$work/err" "entry kind cannot be paired"
check "file against folder: compare exits 1" is "$rc" 1
check "file against folder: listed as a conflict" has "$work/out" "^none .*Conflict .*kind"
fw compare --json "$(p "$X/k1")" "$(p "$X/k2")"
check "file against folder: JSON says conflict" is "$(json_get "$work/out" '[e["flags"] for e in j if e.get("path") == "kind"]')" "[['Conflict']]"
check "file against folder: totals count each file on its side" is "$(json_get "$work/out" '[(t["filesExisting"], t["bytesExisting"]) for t in (j[-1]["totals"]["source"], j[-1]["totals"]["target"])]')" "[(2, 5), (1, 4)]"
fw sync --mirror "$(p "$X/k1")" "$(p "$X/k2")"
check "file against folder: sync exits 1" is "$rc" 1
check "file against folder: folder kept" test -f "$X/k2/kind/inner"
if [ -z "$runner" ]; then
  # A case-sensitive file system: names and paths as spelled.
  mkdir -p "$X/backup/music" "$X/empty" "$X/out"; echo song >"$X/backup/music/song.txt"
  fw sync --mirror "$X/empty" "$X/backup/Music"
  check "another spelling of a root is another folder" test -f "$X/backup/music/song.txt"
  echo old >"$X/out/state.fws"
  fw save-state "$X/src" -o "$X/out/State.fws"
  check "output as spelled" is "$(cat "$X/out/state.fws")" old
  check "output written" test -s "$X/out/State.fws"
  mkdir -p "$X/tw1/A" "$X/tw2/A"; echo UPPER >"$X/tw1/A/X.h"; echo lower >"$X/tw1/A/x.h"
  cp -p "$X/tw1/A/x.h" "$X/tw2/A/x.h"
  fw sync --mirror "$X/tw1" "$X/tw2"
  check "case twins: each keeps its bytes" is "$(cat "$X/tw2/A/X.h") $(cat "$X/tw2/A/x.h")" "UPPER lower"
  fw save-diff "$X/tw1" "$X/tw2" -o "$X/tw.fwd"
  fw verify "$X/tw.fwd";                  check "a difference with case twins verifies" is "$rc" 0
  printf b >"$X/src/a\\b.txt"
  fw save-state "$X/src" -o "$X/bs.fws"
  check "a name the format cannot hold is refused" is "$rc" 2
  check "refusal names the file" has "$work/err" 'a\\b.txt has a name'
fi

# The safety net: a sync that deletes much asks first, old versions can be kept, whole-hour
# time shifts can be forgiven.
G="$work/guard"; mkdir -p "$G/src" "$G/trg"
echo keep >"$G/src/keep.txt"; cp -p "$G/src/keep.txt" "$G/trg/keep.txt"
echo one >"$G/trg/one.txt"; echo two >"$G/trg/two.txt"
before=$(tree_sum "$G/trg")
fw sync --mirror --dry-run --json "$(p "$G/src")" "$(p "$G/trg")"
check "a few files are no share to ask about" is "$(json_get "$work/out" '[e["needsAllowMassDelete"] for e in j if "deletes" in e]')" "[False]"
fw sync --mirror --mass-delete-share-files 2 "$(p "$G/src")" "$(p "$G/trg")"
check "a mass deletion is refused" is "$rc" 2
check "refusal says how many on which side" has "$work/err" "would delete 2 of the 3 files on the target side of row 1 (.*trg): more than half of them"
check "refusal changes nothing" is "$(tree_sum "$G/trg")" "$before"
fw sync --mirror --dry-run --mass-delete-share-files 2 "$(p "$G/src")" "$(p "$G/trg")"
check "dry run shows the count" has "$work/err" "this sync would delete 2 files; This sync would delete 2 of the 3"
check "dry run exits 0" is "$rc" 0
fw sync --mirror --mass-delete-percent 70 --mass-delete-share-files 2 "$(p "$G/src")" "$(p "$G/trg")" --dry-run --json
check "a higher limit needs no permission" is "$(json_get "$work/out" '[e["needsAllowMassDelete"] for e in j if "deletes" in e]')" "[False]"
fw sync --mirror --backup-dir "$(p "$G/trg/versions")" --allow-mass-delete "$(p "$G/src")" "$(p "$G/trg")"
check "a backup folder inside a root is refused" is "$rc" 2
check "refusal names the backup folder" has "$work/err" "must lie outside the synced folder"
check "refused backup folder not made" test ! -e "$G/trg/versions"
mkdir -p "$G/one-src" "$G/one-trg"; echo x >"$G/one-trg/x.txt"
fw sync --mirror "$(p "$G/one-src")" "$(p "$G/one-trg")"
check "deleting the one file of a folder needs no permission" is "$rc" 0
check "the one file is deleted" test ! -e "$G/one-trg/x.txt"
if [ -z "$runner" ]; then  # a link to a folder inside the target is inside it too
  mkdir "$G/trg/old" && ln -s "$G/trg/old" "$G/to-old"
  fw sync --mirror --backup-dir "$G/to-old" --allow-mass-delete "$G/src" "$G/trg"
  check "a backup folder linked into a root is refused" is "$rc" 2
  check "nothing lands in the linked backup folder" is "$(ls -A "$G/trg/old")" ""
  rm "$G/to-old"; rmdir "$G/trg/old"
fi
echo newer >"$G/src/keep.txt"; touch -d '+2 hours' "$G/src/keep.txt"
fw sync --mirror --allow-mass-delete --backup-dir "$(p "$G/versions")" "$(p "$G/src")" "$(p "$G/trg")"
check "sync with a backup folder" is "$rc" 0
check "deleted files are gone from the target" test ! -e "$G/trg/one.txt" -a ! -e "$G/trg/two.txt"
check "replaced file is new" is "$(cat "$G/trg/keep.txt")" newer
check "deleted file kept with a stamp" is "$(cat "$G/versions"/one\ 2*.txt)" one
check "replaced file kept with a stamp" is "$(cat "$G/versions"/keep\ 2*.txt)" keep
check "stamp form" bash -c "ls '$G/versions' | grep -Eq '^two [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{6}\.txt$'"
touch -d "@$(( $(stat -c %Y "$G/src/keep.txt") - 3600 ))" "$G/trg/keep.txt"
fw compare "$(p "$G/src")" "$(p "$G/trg")"
check "an hour apart differs by default" is "$rc" 1
fw compare --ignore-time-shift 1 "$(p "$G/src")" "$(p "$G/trg")"
check "an hour apart is forgiven" is "$rc" 0
fw compare --ignore-time-shift 25 "$(p "$G/src")" "$(p "$G/trg")"
check "time shift beyond 24 is a usage error" is "$rc" 64
fw compare --backup-dir "$(p "$G/versions")" "$(p "$G/src")" "$(p "$G/trg")"
check "backup dir belongs to sync" is "$rc" 64

# Paths that are not UTF-8 are taken byte for byte (POSIX): never as "?" or another folder.
if [ -z "$runner" ]; then
  U="$work/bytes"; mkdir -p "$U/src" "$U/?"; echo data >"$U/src/f.txt"; echo mine >"$U/?/keep.txt"
  mkdir "$U"/caf$'\xe9'
  (cd "$U" && "$cli" sync --mirror src $'caf\xe9' >/dev/null 2>&1); rc=$?
  check "a target named in bytes that are not UTF-8" is "$rc" 0
  check "the copy lands under the bytes given" is "$(cat "$U"/caf$'\xe9'/f.txt 2>/dev/null)" data
  check "the folder named ? is left alone" is "$(ls -A "$U/?")" keep.txt
  (cd "$U" && "$cli" save-state -o $'st\xe9.fws' src >/dev/null 2>&1); rc=$?
  check "an output file named in such bytes" bash -c "[ $rc = 0 ] && [ -s '$U/st'$'\xe9''.fws' ] && [ ! -e '$U/?' -o -d '$U/?' ]"
  # A saved file holds names as UTF-8: such a name is refused, named under its own side's root.
  mkdir -p "$U/nu/sub" "$U/nt"; echo x >"$U/nu/sub/n"$'\xe9'".txt"
  for save in save-diff save-state; do
    fw $save -o "$U/nu.fwd" "$U/nu" "$U/nt"
    check "$save: a name that is not UTF-8 is refused" is "$rc" 2
    check "$save: the refusal names it" has "$work/err" "cannot save: $U/nu/sub/n"
    check "$save: the refusal says why" has "$work/err" "\.txt has a name that is not valid UTF-8"
  done
fi

# Folders that overlap are refused before anything is compared: no tree copied into itself, no
# folder acted on twice.
O="$work/overlap"; mkdir -p "$O/A/sub" "$O/B" "$O/C"
echo a >"$O/A/a.txt"; echo only >"$O/A/sub/only.txt"; echo c >"$O/C/c.txt"
before=$(tree_sum "$O")
fw sync --mirror "$(p "$O/A")" "$(p "$O/A/sub")"
check "a target inside the source is refused" is "$rc" 2
check "refusal names the row and folders" has "$work/err" "row 1: the target .*A.sub lies inside the source .*A; nothing was compared"
fw sync --mirror --allow-mass-delete --json "$(p "$O/A/sub")" "$(p "$O/B/../A")"
check "a source inside the target, spelled with .., is refused" is "$rc" 2
check "refusal is BadRequest" is "$(json_get "$work/out" 'j[-1]["result"]')" BadRequest
fw save-diff --source "$(p "$O/A")" --target "$(p "$O/B")" --source "$(p "$O/C")" \
  --target "$(p "$O/B/new")" -o "$(p "$O/d.fwd")"
check "two rows into one folder are refused" is "$rc" 2
check "refusal names both rows" has "$work/err" "row 2's target .*B.new lies inside row 1's target .*B;"
fw compare "$(p "$O/A")" "$(p "$O/A/")"
check "compare of one folder with itself is refused" is "$rc" 2
check "nothing changed or written by the refusals" is "$(tree_sum "$O")" "$before"
fw compare --source "$(p "$O/A")" --target "$(p "$O/B")" --source "$(p "$O/C")" --target "$(p "$O/BC")"
check "folders that only begin alike are apart" is "$rc" 1

# One run per folder: with the folders locked, a young temporary file of this program is a
# leftover of a run that was killed (a sync's beside its files, a save's volumes beside its
# output) and goes at once.
L="$work/locks"; mkdir -p "$L/S" "$L/T" "$L/out"
echo s >"$L/S/s.txt"
echo half >"$L/T/~fw00000000000000f1.fwtmp"
echo vol >"$L/out/~fw00000000000000f2.fwtmp"
fw sync --mirror "$(p "$L/S")" "$(p "$L/T")"
check "a sync with its folders locked" is "$rc" 0
check "a killed sync's young temporary file is removed" bash -c "[ ! -e '$L/T/~fw00000000000000f1.fwtmp' ] && grep -q 'removed a leftover' '$work/err'"
fw save-state -o "$(p "$L/out/s.fws")" "$(p "$L/S")"
check "a save with its output folder locked" is "$rc" 0
check "a killed save's volume beside the output is removed" test ! -e "$L/out/~fw00000000000000f2.fwtmp"
# Another process holding the same lock (flock on the folder): a sync into it, or a comparison
# of it, waits briefly and is refused naming the folder, changing nothing; a reader's shared
# lock lets a one-way sync read the folder but not a two-way one change it.
if [ -z "$runner" ] && command -v flock >/dev/null; then
  hold() {  # hold -x|-s FOLDER: another process holds its lock until unhold
    rm -f "$L/held"
    flock -o "$1" "$2" -c "touch '$L/held'; sleep 30" &
    holder=$!
    for _ in $(seq 100); do [ -e "$L/held" ] && break; sleep 0.05; done
  }
  unhold() { pkill -P "$holder"; wait "$holder" 2>/dev/null; }  # its sleep, then itself
  echo new >"$L/S/new.txt"
  before=$(tree_sum "$L/T")
  hold -x "$L/T"
  fw sync --mirror "$(p "$L/S")" "$(p "$L/T")"
  check "a sync into a folder another run holds is refused" is "$rc" 2
  check "the refusal names the folder" has "$work/err" "row 1: the target .*locks.T is in use by another run of this program"
  check "the refused sync changed nothing" is "$(tree_sum "$L/T")" "$before"
  fw compare --json "$(p "$L/T")" "$(p "$L/S")"
  check "a comparison of a folder being changed is refused" is "$rc" 2
  check "its refusal is BadRequest" is "$(json_get "$work/out" 'j[-1]["result"]')" BadRequest
  unhold
  hold -s "$L/S"
  fw sync --mirror "$(p "$L/S")" "$(p "$L/T")"
  check "a one-way sync reads a folder another run reads" is "$rc" 0
  fw sync "$(p "$L/S")" "$(p "$L/T")"
  check "a two-way sync would change it and is refused" is "$rc" 2
  check "that refusal names the source" has "$work/err" "row 1: the source .*locks.S is in use"
  unhold
fi

echo "cli e2e: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
