#!/usr/bin/env bash
# Writes two small sample folder trees, SOURCE and TARGET, with an entry in every category of
# difference: only in source, only in target, newer in source, newer in target, other
# difference (size; letter case), plus identical files and an ignored thumbs.db.
# Usage: scripts/make-sample.sh DIR   (creates DIR/source and DIR/target, replacing them)
set -euo pipefail
dir=${1:?usage: make-sample.sh DIR}
rm -rf "$dir/source" "$dir/target"
s="$dir/source"; t="$dir/target"
mkdir -p "$s/Documents/Letters" "$s/Photos/2024" "$s/Music" "$s/Projects/new-idea"
mkdir -p "$t/Documents/Letters" "$t/Photos/2024" "$t/Music" "$t/Archive/old"

old="2024-03-01 10:00:00"; mid="2024-06-01 10:00:00"; new="2024-09-01 10:00:00"
put() { printf '%s\n' "$2" > "$1"; touch -d "$3" "$1"; }

# The same on both sides.
for f in Documents/readme.txt Music/playlist.m3u Photos/2024/beach.jpg; do
  put "$s/$f" "content of $f" "$mid"; put "$t/$f" "content of $f" "$mid"
done
# Only in source / only in target.
put "$s/Documents/Letters/to-anna.txt" "Dear Anna," "$new"
put "$s/Projects/new-idea/plan.md" "# Plan" "$new"
put "$t/Archive/old/notes.txt" "old notes" "$old"
put "$t/Photos/2024/extra.jpg" "extra photo" "$mid"
# Newer in source, newer in target.
put "$s/Documents/budget.csv" "month,amount
sep,120" "$new"
put "$t/Documents/budget.csv" "month,amount" "$old"
put "$s/Music/mix.txt" "old mix" "$old"
put "$t/Music/mix.txt" "new mix, longer" "$new"
# Same time, other size; and a name that differs in letter case only.
put "$s/Documents/Letters/draft.txt" "a longer draft text" "$mid"
put "$t/Documents/Letters/draft.txt" "short draft" "$mid"
put "$s/Photos/2024/Sunset.jpg" "sunset" "$mid"
put "$t/Photos/2024/sunset.JPG" "sunset" "$mid"
# Left out by the default ignore list.
put "$s/Photos/2024/Thumbs.db" "cache" "$new"
# Some bulk that does not compress much, so a split difference needs several volumes.
head -c 3000000 /dev/urandom > "$s/Photos/2024/video.bin"
touch -d "$new" "$s/Photos/2024/video.bin"
