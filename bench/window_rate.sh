#!/usr/bin/env bash
# The window's update rate with a given world, client area and lattice, in a
# private X server: starts the program, sizes its picture, loads the world through
# File > Open, shows the lattice (G) and the statistics line (space), waits, and
# keeps a screenshot of the picture's top left corner, where the line reads
# "Update rate: N ...". Look at the screenshots to read the rates.
#
#   bench/window_rate.sh PROGRAM WORLD OUT_DIR [WIDTH HEIGHT [SHOTS [LATTICE]]]
#
# WORLD is a world file, or - for the default world. WIDTH x HEIGHT is the
# picture's size (default 1280 x 960); SHOTS screenshots are taken two seconds
# apart after a settling time of five seconds (default 5); LATTICE is 1 (default)
# to show the field lattice or 0 to leave it hidden. The tick's timer never fires
# more often than every 10 ms, so 100 is the most the line can read; how much
# room a frame leaves is for the drawing benchmarks to tell.
set -euo pipefail

if (($# < 3)); then
  sed -n '2,14p' "$0" >&2
  exit 2
fi
PROGRAM=$(realpath "$1")
WORLD=$2
[[ "$WORLD" == - ]] || WORLD=$(realpath "$WORLD")
OUT=$3
PICTURE_W=${4:-1280}
PICTURE_H=${5:-960}
SHOTS=${6:-5}
LATTICE=${7:-1}
mkdir -p "$OUT"

WORK=$(mktemp -d)
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/../tests/e2e/x11_helpers.sh
source "$here/../tests/e2e/x11_helpers.sh"
trap 'stop_all; rm -rf "$WORK"' EXIT

start_xvfb 1920x1280x24  # a screen larger than the picture

start_program "$PROGRAM"
sleep 1

# The picture starts below the menu bar: find its first white row in column 5.
first_white_row() {
  screenshot "$WORK/shot.png"
  convert "$WORK/shot.png" -crop "1x80+$((WIN_X + 5))+$WIN_Y" txt:- |
    awk -F'[,:]' '/#FFFFFF/ { print $2; exit }'
}
menu_h=$(first_white_row)
[[ -n "$menu_h" ]] || fail "could not find the picture below the menu bar"
xdotool windowsize --sync "$WID" "$PICTURE_W" $((PICTURE_H + menu_h))
eval "$(xdotool getwindowgeometry --shell "$WID")"
note "menu bar ${menu_h} px; window now ${WIDTH}x${HEIGHT}, picture ${PICTURE_W}x${PICTURE_H}"

# File > Open, the world's path typed into the dialog.
load_world() {
  xdotool mousemove $((WIN_X + 20)) $((WIN_Y + 8)) click 1
  sleep 0.5
  xdotool mousemove $((WIN_X + 30)) $((WIN_Y + 30)) click 1
  dialog_shown() { DIALOG=$(xdotool search --name '^Open$' 2>/dev/null | head -1) && [[ -n "$DIALOG" ]]; }
  wait_for 10 dialog_shown || fail "File > Open showed no dialog"
  sleep 0.5
  xdotool windowfocus --sync "$DIALOG" 2>/dev/null || true
  xdotool type --delay 5 "$WORLD"
  xdotool key Return
  dialog_gone() { ! xdotool search --name '^Open$' >/dev/null 2>&1; }
  wait_for 30 dialog_gone || fail "the dialog stayed open"
}
[[ "$WORLD" == - ]] || load_world

((LATTICE)) && press_key g
press_key space
sleep 5
for ((shot = 1; shot <= SHOTS; ++shot)); do
  screenshot "$WORK/shot.png"
  convert "$WORK/shot.png" -crop "640x40+$WIN_X+$((WIN_Y + menu_h))" +repage "$OUT/rate-$shot.png"
  note "$OUT/rate-$shot.png"
  sleep 2
done
screenshot "$OUT/whole.png"
convert "$OUT"/rate-*.png -append "$OUT/rates.png"
note "all the rates: $OUT/rates.png"
kill -0 "$APP_PID" 2>/dev/null || fail "the program ended"
