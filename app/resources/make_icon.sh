#!/usr/bin/env bash
# Draws the program's icon, a folder carried across water with an arrow, and writes it as a
# Windows .ico with a 32 x 32 and a 16 x 16 image (32-bit colour with alpha).
# Usage: make_icon.sh OUT.ico
set -euo pipefail
out=${1:?usage: make_icon.sh OUT.ico}

# The colour (B G R A) of pixel (x, y) of the 32 x 32 drawing, y from the top.
pixel() {
  local x=$1 y=$2
  # Outside the rounded square: transparent.
  local cx=$x cy=$y r=6
  (( cx < r )) && cx=$(( r - cx - 1 )) || { (( cx > 31 - r )) && cx=$(( cx - (31 - r) )) || cx=0; }
  (( cy < r )) && cy=$(( r - cy - 1 )) || { (( cy > 31 - r )) && cy=$(( cy - (31 - r) )) || cy=0; }
  if (( cx > 0 && cy > 0 && cx * cx + cy * cy > r * r )); then P="0 0 0 0"; return; fi
  # Water: two light wave bands near the bottom.
  if (( y >= 26 )); then
    local wave=$(( (x + (y % 2) * 2) % 6 ))
    if (( (y == 27 || y == 29) && wave < 3 )); then P="250 230 200 255"; else P="170 110 40 255"; fi
    return
  fi
  # The arrow: shaft and head, white, over the folder.
  if (( y >= 15 && y <= 18 && x >= 8 && x <= 19 )); then P="255 255 255 255"; return; fi
  local d=$(( y * 2 - 33 )); (( d < 0 )) && d=$(( -d ))
  if (( x >= 19 && x <= 25 && d <= (25 - x) * 2 )); then P="255 255 255 255"; return; fi
  # The folder: tab and body, yellow with a darker rim.
  if (( (y >= 6 && y <= 8 && x >= 4 && x <= 12) || (y >= 9 && y <= 24 && x >= 4 && x <= 27) )); then
    if (( x == 4 || x == 27 || y == 24 || y == 6 || (y == 9 && x > 12) )); then
      P="30 150 210 255"
    else
      P="80 200 248 255"
    fi
    return
  fi
  P="140 120 30 255"  # the sky: teal
}

hex() {  # little-endian bytes of $1, $2 bytes long, as \x escapes
  local v=$1 n=$2 s=""
  for (( i = 0; i < n; i++ )); do s+=$(printf '\\x%02x' $(( (v >> (8 * i)) & 255 ))); done
  printf '%s' "$s"
}

image() {  # the icon image of size $1: BITMAPINFOHEADER, BGRA rows bottom-up, AND mask
  local size=$1 step=$(( 32 / $1 )) s="" mask=""
  local rowBytes=$(( ((size + 31) / 32) * 4 ))
  s+=$(hex 40 4)$(hex "$size" 4)$(hex $(( size * 2 )) 4)$(hex 1 2)$(hex 32 2)$(hex 0 4)
  s+=$(hex $(( size * size * 4 + rowBytes * size )) 4)$(hex 0 4)$(hex 0 4)$(hex 0 4)$(hex 0 4)
  for (( y = size - 1; y >= 0; y-- )); do
    local bits=() b
    for (( b = 0; b < rowBytes; b++ )); do bits[b]=0; done
    for (( x = 0; x < size; x++ )); do
      pixel $(( x * step )) $(( y * step ))
      read -r pb pg pr pa <<<"$P"
      s+=$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' "$pb" "$pg" "$pr" "$pa")
      (( pa == 0 )) && bits[x / 8]=$(( bits[x / 8] | (128 >> (x % 8)) ))
    done
    for (( b = 0; b < rowBytes; b++ )); do mask+=$(printf '\\x%02x' "${bits[b]}"); done
  done
  printf '%s' "$s$mask"
}

big=$(image 32)
small=$(image 16)
bigSize=$(( 40 + 32 * 32 * 4 + 4 * 32 ))
smallSize=$(( 40 + 16 * 16 * 4 + 4 * 16 ))
header=$(hex 0 2)$(hex 1 2)$(hex 2 2)
header+=$(hex 32 1)$(hex 32 1)$(hex 0 1)$(hex 0 1)$(hex 1 2)$(hex 32 2)$(hex $bigSize 4)$(hex 38 4)
header+=$(hex 16 1)$(hex 16 1)$(hex 0 1)$(hex 0 1)$(hex 1 2)$(hex 32 2)$(hex $smallSize 4)
header+=$(hex $(( 38 + bigSize )) 4)
printf "$header$big$small" > "$out.tmp"
mv "$out.tmp" "$out"
