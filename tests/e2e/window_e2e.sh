#!/usr/bin/env bash
# End-to-end test of the desktop program in a private X server, driven like a
# user with xdotool and checked on screenshots:
#   the window's title and size; M stops the robot (manual mode, no keys held);
#   a left drag adds a wall (its colour fills the dragged box); a right click moves
#   the green target there; the space bar shows the statistics line; Shift+2
#   raises scale1 as 2 does; File > Open loads an example world through the real
#   file dialog, and while the dialog is open a key and a right click still take
#   effect in the window; Esc ends the program with exit code 0.
# Every step waits until the screen shows the effect of the inputs before it,
# never for a fixed time: a loaded machine makes the test slower, not flaky.
#
# usage: window_e2e.sh PROGRAM PIXEL_PROBE
set -euo pipefail

PROGRAM="$1"
# shellcheck disable=SC2034  # read by count() and the others in x11_helpers.sh
PIXEL_PROBE="$2"

for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

WORK=$(mktemp -d)
source "$(dirname "$0")/x11_helpers.sh"
trap 'stop_all; rm -rf "$WORK"' EXIT

LIMIT=60  # seconds for any one effect to reach the screen, however busy the machine

start_xvfb
start_program "$PROGRAM"

# Title and outer size (no window manager: no frame, so the window is the frame).
[[ "$(xdotool getwindowname "$WID")" == "Robot Simulator" ]] || fail "wrong title"
[[ "$WIN_W" == 640 && "$WIN_H" == 480 ]] || fail "window is ${WIN_W}x$WIN_H, not 640x480"
[[ "$WIN_X" == 120 && "$WIN_Y" == 120 ]] || fail "window at $WIN_X,$WIN_Y, not 120,120"

WALL="0 128 200"
GREEN="0 255 0"
STATS="0 19 640 18" # the rows of the statistics line, below the menu bar
VIEW="0 20 640 460" # the picture

# The first frame: a white world with wall-coloured borders.
first_frame() {
  screenshot "$WORK/start.png"
  (($(count "$WORK/start.png" 100 100 400 300 255 255 255) > 60000))
}
wait_for $LIMIT first_frame || fail "the world was never drawn"

# line_shown, line_hidden: whether the statistics line is on the screen, by its
# dark pixels against DARK_BASE, those of a screenshot without it. The screenshot
# looked at is $WORK/line.png.
dark_in_stats() { count "$1" $STATS 0 0 0 90; }
line_shown() {
  screenshot "$WORK/line.png"
  dark_now=$(dark_in_stats "$WORK/line.png")
  ((dark_now - DARK_BASE >= 250))
}
line_hidden() {
  screenshot "$WORK/line.png"
  dark_now=$(dark_in_stats "$WORK/line.png")
  ((dark_now - DARK_BASE < 100))
}

# settle: waits until the window has taken every key and click sent so far and
# has run a tick after them. The window gets its events in the order they were
# sent, so once the statistics line a space bar shows is on the screen, and gone
# again after a second space bar (a tick draws the picture without it), all that
# came before has been taken.
settle() {
  screenshot "$WORK/settle.png"
  DARK_BASE=$(dark_in_stats "$WORK/settle.png")
  press_key space
  wait_for $LIMIT line_shown || fail "the window took no key: no statistics line"
  press_key space
  wait_for $LIMIT line_hidden || fail "the window took no key: the statistics line stayed"
}

# --- Manual mode with no key held: the robot stands still from the next tick on.
# (The picture still changes now and then: the path is planned again every second.)
press_key m
settle

# --- A left drag draws a wall 130 x 90 pixels large. It goes where the robot is
# not: a wall over the robot leaves it no path, and the planner then draws one
# random target after another, the clicked one too.
screenshot "$WORK/before_wall.png"
wall_x=""
for candidate in "200 150" "380 150" "200 300" "380 300" "60 150"; do
  read -r wx wy <<<"$candidate"
  if (($(count "$WORK/before_wall.png" $((wx - 40)) $((wy - 40)) 210 170 $GREEN) == 0)); then
    wall_x=$wx wall_y=$wy
    break
  fi
done
[[ -n "$wall_x" ]] || fail "no place for the wall away from the robot"
BOX="$((wall_x + 15)) $((wall_y + 15)) 100 60"  # inside the dragged rectangle
before=$(count "$WORK/before_wall.png" $BOX $WALL)
((before < 1200)) || fail "the wall's box already holds $before wall-coloured pixels"
xdotool mousemove $((WIN_X + wall_x)) $((WIN_Y + wall_y)) mousedown 1
for step in 1 2 3 4 5; do
  xdotool mousemove $((WIN_X + wall_x + step * 26)) $((WIN_Y + wall_y + step * 18))
done
xdotool mouseup 1
wall_drawn() {
  screenshot "$WORK/after_wall.png"
  after=$(count "$WORK/after_wall.png" $BOX $WALL)
  ((after >= 4000))  # the robot and the path may lie on top of the wall
}
wait_for $LIMIT wall_drawn || fail "no wall after the drag: $after of 6000 pixels in the wall colour"
note "wall at $wall_x,$wall_y: $before -> $after wall-coloured pixels of 6000"

# Moving the mouse with no button held changes nothing any more.
xdotool mousemove $((WIN_X + wall_x + 190)) $((WIN_Y + wall_y + 150))
settle
screenshot "$WORK/after_move.png"
grown=$(count "$WORK/after_move.png" $((wall_x + 131)) $((wall_y + 91)) 60 60 $WALL)
((grown < 400)) || fail "the wall kept growing after the button was released"

# free_spot FILE CANDIDATES...: sets spot to the first candidate "X Y" with no
# green near it (the robot's body is green too) and away from the new wall (a
# target the planner cannot reach is replaced by a random one).
free_spot() {
  local file="$1" x y
  shift
  spot=""
  for candidate in "$@"; do
    read -r x y <<<"$candidate"
    ((x > wall_x - 50 && x < wall_x + 180 && y > wall_y - 50 && y < wall_y + 140)) && continue
    if (($(count "$file" $((x - 30)) $((y - 30)) 61 61 $GREEN) == 0)); then
      spot="$candidate"
      return 0
    fi
  done
  return 1
}

# --- A right click moves the target: pick a free spot, click, and the green disc
# appears there.
free_spot "$WORK/after_move.png" "480 380" "140 380" "520 140" "330 400" "560 300" "420 110" ||
  fail "no free spot for the target"
read -r cx cy <<<"$spot"
xdotool mousemove $((WIN_X + cx)) $((WIN_Y + cy)) click 3
target_moved() {
  screenshot "$WORK/after_target.png"
  green=$(count "$WORK/after_target.png" $((cx - 7)) $((cy - 5)) 15 11 $GREEN)
  ((green >= 8))
}
wait_for $LIMIT target_moved || fail "no green target at $spot after the right click"
note "target: $green green pixels at $spot"

# --- The space bar shows the statistics line at the top of the picture, and hides it.
DARK_BASE=$(dark_in_stats "$WORK/after_target.png")
press_key space
wait_for $LIMIT line_shown || fail "no statistics line: $DARK_BASE -> $dark_now dark pixels"
note "statistics line: $DARK_BASE -> $dark_now dark pixels"
press_key space
wait_for $LIMIT line_hidden || fail "the statistics line stayed after the second space"

# --- Shift+2 is the 2 key: it raises scale1 as 2 alone does. The statistics line
# shows the gains after the update rate, whose number of digits moves them (a
# space is narrower than a digit, and text is placed to fractions of a pixel), so
# lines are compared only with lines of the same length: a round of keys whose
# lines differ in length is made again. A 30 ms tick keeps the rate at two digits
# unless the machine is very busy.
press_key --repeat 20 Down
settle
cp "$WORK/line.png" "$WORK/no_line.png"
declare -A LINE_END
# gains_line NAME: shows the statistics line as every key sent so far left it,
# keeps its screenshot as $WORK/NAME.png and its last column as LINE_END[NAME],
# and hides it again.
gains_line() {
  DARK_BASE=$(dark_in_stats "$WORK/no_line.png")
  press_key space
  wait_for $LIMIT line_shown || fail "no statistics line for $1"
  cp "$WORK/line.png" "$WORK/$1.png"
  read -r _ "LINE_END[$1]" <<<"$(changed_columns "$WORK/no_line.png" "$WORK/$1.png" $STATS)"
  press_key space
  wait_for $LIMIT line_hidden || fail "the statistics line stayed after $1"
}
# gains_round: the lines with scale1 0.11, after 2, after 1 and after Shift+2
# (and 1 again); true when all four have the same length.
gains_round() {
  gains_line plain1
  press_key 2
  gains_line plain2
  press_key 1
  gains_line back
  press_key shift+2
  gains_line shift2
  press_key 1
  note "line ends: ${LINE_END[plain1]} ${LINE_END[plain2]} ${LINE_END[back]} ${LINE_END[shift2]}"
  [[ ${LINE_END[plain1]} == "${LINE_END[plain2]}" && ${LINE_END[plain1]} == "${LINE_END[back]}" &&
    ${LINE_END[plain1]} == "${LINE_END[shift2]}" ]]
}
# same_gains A B: lines A and B are the same in their right two thirds, where the
# gains are and the update rate is not.
same_gains() {
  local end=${LINE_END[$1]}
  local from=$((end - (end - 1) * 65 / 100))
  read -r _ y _ h <<<"$STATS"
  same_in "$WORK/$1.png" "$WORK/$2.png" "$from" "$y" $((end - from + 1)) "$h"
}
wait_for $((4 * LIMIT)) gains_round || fail "no round of keys with statistics lines of one length"
same_gains plain1 plain2 && fail "2 did not change the gains line"
same_gains plain1 back || fail "1 did not bring scale1 back"
same_gains plain2 shift2 || fail "Shift+2 did not raise scale1 as 2 does"
note "Shift+2 raised scale1 as 2 does"
press_key --repeat 20 Up

# --- File > Open loads the maze through the real file dialog: one of the maze's
# walls (x 5.95 to 10 at y 1.95) appears where the default world has none.
MAZE="$(cd "$(dirname "$0")/../../worlds" && pwd)/maze.dat"
MAZE_BOX="400 100 200 20"
screenshot "$WORK/before_open.png"
maze_before=$(count "$WORK/before_open.png" $MAZE_BOX $WALL)
xdotool mousemove $((WIN_X + 20)) $((WIN_Y + 8)) click 1  # the File menu
menu_shown() { (($(xdotool search --onlyvisible --pid "$APP_PID" 2>/dev/null | wc -l) >= 2)); }
wait_for $LIMIT menu_shown || fail "the File menu did not open"
xdotool mousemove $((WIN_X + 30)) $((WIN_Y + 30)) click 1  # its first item, Open
dialog_shown() { DIALOG=$(xdotool search --name '^Open$' 2>/dev/null | head -1) && [[ -n "$DIALOG" ]]; }
wait_for $LIMIT dialog_shown || fail "File > Open showed no dialog"
# While the dialog is open the window goes on: moved aside so the picture shows,
# the space bar shows the statistics line and a right click moves the target.
xdotool windowmove "$DIALOG" 770 0
# The picture shows again: none of the grey of the dialog's (and the menu's) face.
window_uncovered() {
  screenshot "$WORK/dialog_open.png"
  (($(count "$WORK/dialog_open.png" $VIEW 239 239 239) == 0))
}
wait_for $LIMIT window_uncovered || fail "the picture did not show again beside the dialog"
DARK_BASE=$(dark_in_stats "$WORK/dialog_open.png")
press_key space
wait_for $LIMIT line_shown || fail "no statistics line from a key while the dialog is open"
note "a key while the dialog is open: $DARK_BASE -> $dark_now dark pixels"
free_spot "$WORK/line.png" "140 380" "480 380" "330 400" "560 300" "520 140" "420 110" ||
  fail "no free spot for the target while the dialog is open"
read -r cx cy <<<"$spot"
xdotool mousemove $((WIN_X + cx)) $((WIN_Y + cy)) click 3
wait_for $LIMIT target_moved || fail "a right click while the dialog is open did not move the target"
note "a right click while the dialog is open: $green green pixels at $spot"
[[ -n "${E2E_KEEP_SCREENSHOT:-}" ]] && cp "$WORK/after_target.png" "$E2E_KEEP_SCREENSHOT"
press_key space
wait_for $LIMIT line_hidden || fail "the statistics line stayed while the dialog is open"
xdotool windowfocus --sync "$DIALOG" 2>/dev/null || xdotool windowfocus "$DIALOG"
xdotool type --delay 20 "$MAZE"
xdotool key Return
maze_loaded() {
  screenshot "$WORK/after_open.png"
  maze_after=$(count "$WORK/after_open.png" $MAZE_BOX $WALL)
  ((maze_after - maze_before >= 600))
}
wait_for $LIMIT maze_loaded || fail "no maze wall after File > Open: $maze_before -> $maze_after"
note "open: $maze_before -> $maze_after wall-coloured pixels where the maze has a wall"

# --- Esc ends the program with exit code 0.
press_key Escape
ended() { ! kill -0 "$APP_PID" 2>/dev/null; }
wait_for $LIMIT ended || fail "the program did not end after Esc"
status=0
wait "$APP_PID" || status=$?
APP_PID=""
((status == 0)) || { cat "$WORK/program.log" >&2; fail "exit code $status after Esc"; }
note "Esc: exit code 0"
echo "PASS"
