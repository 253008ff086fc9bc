#!/usr/bin/env bash
# Screenshots of the Windows program for people: builds Ferrywick.exe, starts it under Wine in a
# virtual X server with a sample project on its command line, and captures the main window, the
# About box, the folder pair dialog naming folders that overlap, the warning about a missing
# folder, the File Tree window (a folder expanded, a file selected and unticked), the Options
# dialog with its presets, the question before the sync, its progress window with its bar,
# "Sync finished" with its Log... button, its list of failed entries and the Safety dialog as
# PNG files.
# Usage: scripts/screenshots.sh [OUTDIR]   (default docs/screenshots)
#        FW_WIN_BUILD=DIR picks the Windows build folder (default build/win, as scripts/test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${1:-docs/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)
win=${FW_WIN_BUILD:-build/win}
work=$root/build/screenshots
# A prefix of its own: no settings or window positions from earlier runs.
export WINEPREFIX=$work/wineprefix

winpath() { printf 'Z:%s' "$(readlink -f "$1" | sed 's|/|\\|g')"; }
drive() { scripts/wine-run.sh "$win/app/fw-gui-drive.exe" "$@"; }
# The screen cut to a window's rectangle (default the main window): shot FILE [CAPTION]
shot() {
  local rect
  rect=$(drive rect "${2:-main}" | tr -d '\r')
  import -window root -crop "$rect" +repage "$out/$1"
}
# The sample folders appear as drive S: (short paths in the lists).
project='S:\ferrywick-sample.fwp'

# Inside the virtual X server: one run of the program, driven by its command ids. The program
# runs on a Wine virtual desktop as large as the screen, so Wine draws the window frames.
take() {
  drive start 800x560 "$(winpath "$win/app/Ferrywick.exe")" "$project"
  drive wait main 30
  sleep 2
  shot main-window.png
  drive menu main f                 # the File menu: its keys and the recycle-bin choice
  sleep 1
  shot file-menu.png
  drive endmenu main
  sleep 1
  drive command main 40015          # About
  drive wait "Donate" 30
  sleep 1
  shot about.png "Donate"
  drive command "Donate" 2
  drive gone "Donate" 10
  drive command main 10000          # Add, with a target inside the first row's target
  drive wait "Folder comparison" 30
  drive settext "Folder comparison" 1001 'S:\source\Photos'
  drive settext "Folder comparison" 1003 'S:\target\Photos'
  sleep 2
  shot folder-pair.png "Folder comparison"
  drive command "Folder comparison" 2
  drive gone "Folder comparison" 10
  drive command main 10005          # Compare
  drive wait "Warning" 60           # the second row's source folder is not there
  sleep 1
  shot missing-root.png "Warning"
  drive command "Warning" 1
  drive gone "Warning" 10
  drive wait "File Tree" 60
  sleep 2
  drive tree "File Tree" 1004 0/0/1/1   # Root, the pair, Documents, budget.csv
  drive key "File Tree" 1004 32     # Space unticks it: Documents and the pair partly ticked
  sleep 1
  shot file-tree.png "File Tree"
  drive key "File Tree" 1004 32     # ticked again for the sync
  sleep 1
  drive command "File Tree" 10007   # Options
  drive wait "Options" 30
  sleep 1
  shot options.png "Options"
  drive command "Options" 2         # Cancel
  drive gone "Options" 10
  drive command "File Tree" 1008    # Sync
  drive wait "Before the sync" 30   # what it will do and what it leaves alone, asked first
  sleep 1
  shot sync-warning.png "Before the sync"
  drive command "Before the sync" 6 # Yes
  drive gone "Before the sync" 10
  drive wait "Sync in progress" 30
  sleep 2.5
  shot progress.png
  drive wait "Sync finished" 300
  sleep 1
  shot sync-finished.png
  drive command "Sync finished" 1042   # Details...: the entries left alone, and why
  drive wait "Failed entries" 30
  sleep 1
  shot failed-entries.png "Failed entries"
  drive command "Failed entries" 1
  drive gone "Failed entries" 10
  drive command "Sync finished" 1
  drive gone "Sync finished" 10
  drive command main 40140          # Safety...: backup folder, limits, hour shift
  drive wait "Safety" 30
  sleep 1
  shot safety.png "Safety"
  drive command "Safety" 2          # Cancel
  drive gone "Safety" 10
  drive command main 40008          # Exit
  drive gone main 10
}
if [ "${FW_SHOTS_INSIDE:-}" = 1 ]; then take; exit; fi

scripts/install-deps.sh windows gui >/dev/null
cmake -S . -B "$win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$win" -j"$(nproc)" --target Ferrywick ferrywick-cli fw-gui-drive >/dev/null

rm -rf "$work/sample"
mkdir -p "$work/sample"
scripts/make-sample.sh "$work/sample"
# Enough to copy that the progress window stays up for a few seconds.
mkdir -p "$work/sample/source/Videos" "$work/sample/source/Mail"
for i in 1 2 3; do head -c 200000000 /dev/zero > "$work/sample/source/Videos/holiday-$i.mp4"; done
for i in $(seq 1 1500); do printf 'message %s\n' "$i" > "$work/sample/source/Mail/m$i.eml"; done
# A folder against a file of the same name: left alone, counted as failed, and named.
mkdir -p "$work/sample/source/Shared"
printf 'minutes\n' > "$work/sample/source/Shared/minutes.txt"
printf 'an old export\n' > "$work/sample/target/Shared"
scripts/wine-run.sh "$win/cli/ferrywick-cli.exe" --version >/dev/null  # makes the prefix
ln -sfn "$work/sample" "$WINEPREFIX/dosdevices/s:"
# A mirror (the source wins everywhere, also over what is only in the target): a missing folder
# would then empty its row's other side, and the program warns of it after the comparison.
for v in flagsSrc:252 flagsTrg:0; do
  scripts/wine-run.sh reg add 'HKCU\Software\Ferrywick' /v "${v%%:*}" /t REG_DWORD /d "${v#*:}" /f \
    >/dev/null
done
scripts/wine-run.sh "$win/cli/ferrywick-cli.exe" save-project -q --source 'S:\source' \
  --target 'S:\target' --source 'S:\unplugged' --target 'S:\backup' -o "$project"
mkdir -p "$work/sample/backup"
printf 'notes of last year\n' > "$work/sample/backup/notes.txt"  # what a mirror of nothing would delete

FW_SHOTS_INSIDE=1 xvfb-run -a -s "-screen 0 800x560x24" "$0" "$out"
echo "Screenshots in $out:"
ls -1 "$out"
