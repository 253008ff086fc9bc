#!/usr/bin/env bash
# Fails when a source file includes a header of a layer above its own. The layers, lowest
# first: platform <- core <- formats <- sync <- cli and app (each may include itself and the
# ones below; cli and app not each other). fuzz/ and bench/ sit on formats; the formats tests
# also replay the fuzz entry points. An include with ".." in it is refused everywhere. The
# build enforces the same rule through each target's include folders (cmake/fw_layers.cmake);
# this check needs no build. Usage: scripts/check-layers.sh
set -uo pipefail
cd "$(dirname "$0")/.."

# folder: what its files may include (test files: after "|", what they may include besides).
rules='
platform: platform
core:     platform core
formats:  platform core formats | fuzz
sync:     platform core formats sync
cli:      platform core formats sync cli
app:      platform core formats sync app
fuzz:     platform core formats fuzz
bench:    platform core formats bench
'
folders=$(awk -F: 'NF > 1 { print $1 }' <<<"$rules")
existing=()
for f in $folders; do [ -d "$f" ] && existing+=("$f"); done

grep -rnE --include='*.cpp' --include='*.h' --include='*.rc' \
     '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]' "${existing[@]}" |
awk -v rules="$rules" '
  BEGIN {
    n = split(rules, lines, "\n")
    for (i = 1; i <= n; ++i) {
      if (split(lines[i], kv, ":") < 2) continue
      split(kv[2], parts, "|")
      may[kv[1]] = " " parts[1] " "
      tests[kv[1]] = " " parts[1] " " parts[2] " "
      layer[kv[1]] = 1
    }
    bad = 0
  }
  {
    file = $0; sub(/:.*/, "", file)
    rest = substr($0, length(file) + 2)
    line = rest; sub(/:.*/, "", line)
    target = rest
    sub(/^[^"<]*["<]/, "", target); sub(/[">].*$/, "", target)
    folder = file; sub(/\/.*/, "", folder)
    if (target ~ /\.\./) {
      printf "%s:%s: #include \"%s\" climbs out of its folder\n", file, line, target; bad = 1; next
    }
    if (target !~ /\//) next                  # beside the file itself
    top = target; sub(/\/.*/, "", top)
    if (!(top in layer)) next                 # not one of ours (gtest/, ...)
    allowed = (file ~ /_test\.cpp$/) ? tests[folder] : may[folder]
    if (index(allowed, " " top " ") == 0) {
      printf "%s:%s: %s/ may not include %s\n", file, line, folder, target; bad = 1
    }
  }
  END { exit bad }
'
status=$?
if [ $status -ne 0 ]; then
  echo "check-layers: an include runs up a layer (the layers: docs/architecture.md)" >&2
  exit 1
fi
echo "check-layers: every include stays within its layer and those below"
