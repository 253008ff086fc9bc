#!/usr/bin/env bash
# Draws the File Tree's entry pictures, a folder or a sheet of paper on a tinted square, and
# writes each as a 16 x 16 24-bit Windows bitmap into OUTDIR (names as ferrywick.rc expects).
# Usage: make_bitmaps.sh OUTDIR
set -euo pipefail
out=${1:?usage: make_bitmaps.sh OUTDIR}
mkdir -p "$out"

# Little-endian bytes of a number as printf escapes: le VALUE BYTES
le() {
  local v=$1 n=$2 s=""
  for ((i = 0; i < n; i++)); do s+=$(printf '\\x%02x' $(( (v >> (8 * i)) & 255 ))); done
  printf '%s' "$s"
}

# The colour "R G B" of pixel (x, y), y from the top, for picture kind (folder|paper) on the
# background "R G B".
pixel() {
  local kind=$1 x=$2 y=$3 bg=$4
  if [[ $kind == folder ]]; then
    local rim="150 110 20" fill="250 212 100" tab="235 190 70"
    if (( y >= 3 && y <= 4 && x >= 2 && x <= 7 )); then
      if (( y == 3 || x == 2 || x == 7 )); then P=$rim; else P=$tab; fi; return
    fi
    if (( y >= 5 && y <= 13 && x >= 2 && x <= 13 )); then
      if (( y == 5 || y == 13 || x == 2 || x == 13 )); then P=$rim; else P=$fill; fi; return
    fi
  else
    local rim="90 90 90" fill="255 255 255" line="160 160 200"
    # The sheet from x 3 to 12, y 1 to 14, its top right corner folded over.
    if (( x >= 3 && x <= 12 && y >= 1 && y <= 14 )); then
      local fold=$(( x - 8 ))  # the corner is cut where y < x - 8 + 1
      if (( fold > 0 && y < fold + 1 )); then
        if (( y == fold )); then P=$rim; else P=$bg; fi; return
      fi
      if (( x == 3 || y == 14 || (y == 1 && x <= 8) || x == 12 && y >= 5 )); then P=$rim; return; fi
      if (( fold >= 0 && y == 5 )); then P=$rim; return; fi
      if (( x >= 5 && x <= 10 && (y == 7 || y == 9 || y == 11) )); then P=$line; return; fi
      P=$fill; return
    fi
  fi
  P=$bg
}

# One bitmap: write_bitmap FILE KIND "R G B"
write_bitmap() {
  local file=$1 kind=$2 bg=$3 data=""
  for ((y = 15; y >= 0; y--)); do  # rows bottom-up
    for ((x = 0; x < 16; x++)); do
      pixel "$kind" "$x" "$y" "$bg"
      read -r r g b <<<"$P"
      data+=$(printf '\\x%02x\\x%02x\\x%02x' "$b" "$g" "$r")
    done
  done
  local size=$(( 14 + 40 + 16 * 16 * 3 ))
  {
    printf 'BM'; printf "$(le $size 4)$(le 0 4)$(le 54 4)"
    printf "$(le 40 4)$(le 16 4)$(le 16 4)$(le 1 2)$(le 24 2)$(le 0 4)$(le $(( 16 * 16 * 3 )) 4)"
    printf "$(le 2835 4)$(le 2835 4)$(le 0 4)$(le 0 4)"
    printf "$data"
  } >"$file"
}

grey="247 247 247" red="241 121 121" green="121 232 121" blue="121 155 251"
cyan="121 235 235" pink="235 173 232" yellow="235 225 121"
write_bitmap "$out/folder_plain.bmp" folder "$grey"
write_bitmap "$out/folder_red.bmp" folder "$red"
write_bitmap "$out/folder_green.bmp" folder "$green"
write_bitmap "$out/folder_blue.bmp" folder "$blue"
write_bitmap "$out/file_plain.bmp" paper "$grey"
write_bitmap "$out/file_red.bmp" paper "$red"
write_bitmap "$out/file_green.bmp" paper "$green"
write_bitmap "$out/file_pink.bmp" paper "$pink"
write_bitmap "$out/file_cyan.bmp" paper "$cyan"
write_bitmap "$out/file_yellow.bmp" paper "$yellow"
