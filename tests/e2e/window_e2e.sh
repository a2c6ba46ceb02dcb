#!/usr/bin/env bash
# End-to-end test of the desktop program in a private X server, driven like a
# user with xdotool and checked on screenshots:
#   the window's title and size; M stops the robot (manual mode, no keys held);
#   a left drag adds a wall (its colour fills the dragged box); a right click moves
#   the green target there; the space bar shows the statistics line; File > Open
#   loads an example world through the real file dialog; Esc ends the program
#   with exit code 0.
#
# usage: window_e2e.sh PROGRAM PIXEL_PROBE
set -euo pipefail

PROGRAM="$1"
# shellcheck disable=SC2034  # read by count() in x11_helpers.sh
PIXEL_PROBE="$2"

for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

WORK=$(mktemp -d)
source "$(dirname "$0")/x11_helpers.sh"
trap 'stop_all; rm -rf "$WORK"' EXIT

start_xvfb
start_program "$PROGRAM"

# Title and outer size (no window manager: no frame, so the window is the frame).
[[ "$(xdotool getwindowname "$WID")" == "Robot Simulator" ]] || fail "wrong title"
[[ "$WIN_W" == 640 && "$WIN_H" == 480 ]] || fail "window is ${WIN_W}x$WIN_H, not 640x480"
[[ "$WIN_X" == 120 && "$WIN_Y" == 120 ]] || fail "window at $WIN_X,$WIN_Y, not 120,120"

WALL="0 128 200"
GREEN="0 255 0"

# The first frame: a white world with wall-coloured borders.
first_frame() {
  screenshot "$WORK/start.png"
  (($(count "$WORK/start.png" 100 100 400 300 255 255 255) > 60000))
}
wait_for 20 first_frame || fail "the world was never drawn"

# Manual mode with no key held: the robot stands still from the next tick on.
press_key m
sleep 0.5

# --- A left drag draws a wall from (200, 150) to (330, 240) of the window.
BOX="215 165 100 60"  # inside the dragged rectangle
screenshot "$WORK/before_wall.png"
before=$(count "$WORK/before_wall.png" $BOX $WALL)
((before < 1200)) || fail "the wall's box already holds $before wall-coloured pixels"
xdotool mousemove $((WIN_X + 200)) $((WIN_Y + 150)) mousedown 1
for step in 1 2 3 4 5; do
  xdotool mousemove $((WIN_X + 200 + step * 26)) $((WIN_Y + 150 + step * 18))
  sleep 0.05
done
xdotool mouseup 1
wall_drawn() {
  screenshot "$WORK/after_wall.png"
  after=$(count "$WORK/after_wall.png" $BOX $WALL)
  ((after >= 4000))  # the robot and the path may lie on top of the wall
}
wait_for 10 wall_drawn || fail "no wall after the drag: $after of 6000 pixels in the wall colour"
note "wall: $before -> $after wall-coloured pixels of 6000"

# Moving the mouse with no button held changes nothing any more.
xdotool mousemove $((WIN_X + 400)) $((WIN_Y + 400))
sleep 0.3
screenshot "$WORK/after_move.png"
((`count "$WORK/after_move.png" 331 241 60 60 $WALL` < 400)) ||
  fail "the wall kept growing after the button was released"

# --- A right click moves the target: pick a spot with no green near it (the
# robot's body is green too), click, and the green disc appears there.
screenshot "$WORK/before_target.png"
spot=""
for candidate in "480 380" "140 380" "520 140" "330 400" "560 300" "420 110"; do
  read -r cx cy <<<"$candidate"
  if (($(count "$WORK/before_target.png" $((cx - 30)) $((cy - 30)) 61 61 $GREEN) == 0)); then
    spot="$candidate"
    break
  fi
done
[[ -n "$spot" ]] || fail "no free spot for the target"
read -r cx cy <<<"$spot"
xdotool mousemove $((WIN_X + cx)) $((WIN_Y + cy)) click 3
target_moved() {
  screenshot "$WORK/after_target.png"
  green=$(count "$WORK/after_target.png" $((cx - 7)) $((cy - 5)) 15 11 $GREEN)
  ((green >= 8))
}
wait_for 10 target_moved || fail "no green target at $spot after the right click"
note "target: $green green pixels at $spot"

# --- The space bar shows the statistics line at the top of the picture.
STATS="0 0 640 70"
screenshot "$WORK/before_stats.png"
dark_before=$(count "$WORK/before_stats.png" $STATS 0 0 0 90)
press_key space
stats_shown() {
  screenshot "$WORK/stats.png"
  dark_after=$(count "$WORK/stats.png" $STATS 0 0 0 90)
  ((dark_after - dark_before >= 250))
}
wait_for 10 stats_shown || fail "no statistics line: $dark_before -> $dark_after dark pixels"
note "statistics line: $dark_before -> $dark_after dark pixels"
press_key space
stats_hidden() {
  screenshot "$WORK/stats_off.png"
  dark_off=$(count "$WORK/stats_off.png" $STATS 0 0 0 90)
  ((dark_off - dark_before < 100))
}
wait_for 10 stats_hidden || fail "the statistics line stayed after the second space"

# --- File > Open loads the maze through the real file dialog: one of the maze's
# walls (x 5.95 to 10 at y 1.95) appears where the default world has none.
MAZE="$(cd "$(dirname "$0")/../../worlds" && pwd)/maze.dat"
MAZE_BOX="400 100 200 20"
screenshot "$WORK/before_open.png"
maze_before=$(count "$WORK/before_open.png" $MAZE_BOX $WALL)
xdotool mousemove $((WIN_X + 20)) $((WIN_Y + 8)) click 1  # the File menu
sleep 0.5
xdotool mousemove $((WIN_X + 30)) $((WIN_Y + 30)) click 1  # its first item, Open
dialog_shown() { DIALOG=$(xdotool search --name '^Open$' 2>/dev/null | head -1) && [[ -n "$DIALOG" ]]; }
wait_for 10 dialog_shown || fail "File > Open showed no dialog"
xdotool windowfocus --sync "$DIALOG" 2>/dev/null || xdotool windowfocus "$DIALOG"
xdotool type --delay 20 "$MAZE"
xdotool key Return
maze_loaded() {
  screenshot "$WORK/after_open.png"
  maze_after=$(count "$WORK/after_open.png" $MAZE_BOX $WALL)
  ((maze_after - maze_before >= 600))
}
wait_for 10 maze_loaded || fail "no maze wall after File > Open: $maze_before -> $maze_after"
note "open: $maze_before -> $maze_after wall-coloured pixels where the maze has a wall"

# --- Esc ends the program with exit code 0.
press_key Escape
ended() { ! kill -0 "$APP_PID" 2>/dev/null; }
wait_for 15 ended || fail "the program did not end after Esc"
status=0
wait "$APP_PID" || status=$?
APP_PID=""
((status == 0)) || { cat "$WORK/program.log" >&2; fail "exit code $status after Esc"; }
note "Esc: exit code 0"
echo "PASS"
