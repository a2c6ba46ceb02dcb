#!/usr/bin/env bash
# End-to-end test of the desktop program in a private X server, driven like a
# user with xdotool and checked on screenshots:
#   the window's title and size; M stops the robot (manual mode, no keys held);
#   a left drag adds a wall (its colour fills the dragged box); a right click moves
#   the green target there; the space bar shows the statistics line; File > Open
#   Shift+2 raises scale1 as 2 does; File > Open loads an example world through
#   the real file dialog, and while the dialog is open a key and a right click
#   still take effect in the window; Esc ends the program
#   with exit code 0.
#
# usage: window_e2e.sh PROGRAM PIXEL_PROBE
set -euo pipefail

PROGRAM="$1"
# shellcheck disable=SC2034  # read by count() in x11_helpers.sh
PIXEL_PROBE="$2"

for tool in Xvfb xdotool import convert compare; do
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

# --- Shift+2 is the 2 key: it raises scale1 as 2 alone does. The line after the
# update rate shows the gains; the robot stands still, so nothing else changes there.
GAINS="-crop 510x18+$((WIN_X + 104))+$((WIN_Y + 19)) +repage"
gains() { screenshot "$WORK/g.png" && convert "$WORK/g.png" $GAINS "$1"; }
same() { compare -metric AE "$1" "$2" null: >/dev/null 2>&1; }
# The update rate's width moves the rest of the line (a space is narrower than a
# digit): a 30 ms tick keeps it at two digits, so the gains stay in place.
press_key --repeat 20 Down
press_key space
sleep 2.5
gains "$WORK/gains_start.png"     # scale1 0.110000
press_key 2
sleep 0.3
gains "$WORK/gains_plain2.png"    # scale1 0.120000
same "$WORK/gains_start.png" "$WORK/gains_plain2.png" && fail "2 did not change the gains line"
press_key 1
sleep 0.3
gains "$WORK/gains_back.png"
same "$WORK/gains_start.png" "$WORK/gains_back.png" || fail "1 did not bring scale1 back"
press_key shift+2
shift2_raised() { gains "$WORK/gains_shift2.png" && same "$WORK/gains_shift2.png" "$WORK/gains_plain2.png"; }
wait_for 5 shift2_raised || fail "Shift+2 did not raise scale1 as 2 does"
note "Shift+2 raised scale1 as 2 does"
press_key 1 space
press_key --repeat 20 Up
sleep 0.3

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
# While the dialog is open the window goes on: moved aside so the picture shows,
# the space bar shows the statistics line and a right click moves the target.
xdotool windowmove "$DIALOG" 770 0
sleep 0.3
screenshot "$WORK/dialog_open.png"
dark_before=$(count "$WORK/dialog_open.png" $STATS 0 0 0 90)
press_key space
wait_for 10 stats_shown || fail "no statistics line from a key while the dialog is open"
note "a key while the dialog is open: $dark_before -> $dark_after dark pixels"
screenshot "$WORK/before_target2.png"
spot=""
for candidate in "140 380" "480 380" "330 400" "560 300" "520 140"; do
  read -r cx cy <<<"$candidate"
  if (($(count "$WORK/before_target2.png" $((cx - 30)) $((cy - 30)) 61 61 $GREEN) == 0)); then
    spot="$candidate"
    break
  fi
done
[[ -n "$spot" ]] || fail "no free spot for the target while the dialog is open"
read -r cx cy <<<"$spot"
xdotool mousemove $((WIN_X + cx)) $((WIN_Y + cy)) click 3
wait_for 10 target_moved || fail "a right click while the dialog is open did not move the target"
note "a right click while the dialog is open: $green green pixels at $spot"
screenshot "$WORK/dialog_and_window.png"
[[ -n "${E2E_KEEP_SCREENSHOT:-}" ]] && cp "$WORK/dialog_and_window.png" "$E2E_KEEP_SCREENSHOT"
press_key space
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
