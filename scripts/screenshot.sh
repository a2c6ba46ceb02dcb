#!/usr/bin/env bash
# Makes docs/screenshot.png: the real program in a private X server (Xvfb), with
# two walls drawn by mouse drags, the vision rays and the statistics line shown,
# captured from the screen a moment into the run.
#
# usage: scripts/screenshot.sh [BUILD_DIR] [OUTPUT]
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${1:-$ROOT/build}
OUTPUT=${2:-$ROOT/docs/screenshot.png}
PROGRAM="$BUILD_DIR/bin/robot-simulator"
[[ -x "$PROGRAM" ]] || { echo "build the program first: $PROGRAM" >&2; exit 1; }

WORK=$(mktemp -d)
source "$ROOT/tests/e2e/x11_helpers.sh"
trap 'stop_all; rm -rf "$WORK"' EXIT

start_xvfb
start_program "$PROGRAM"
sleep 0.5

drag() {  # drag X1 Y1 X2 Y2 (window pixels)
  xdotool mousemove $((WIN_X + $1)) $((WIN_Y + $2)) mousedown 1
  for step in 1 2 3 4; do
    xdotool mousemove $((WIN_X + $1 + ($3 - $1) * step / 4)) $((WIN_Y + $2 + ($4 - $2) * step / 4))
    sleep 0.05
  done
  xdotool mouseup 1
}
drag 250 90 290 330
drag 380 240 560 280
xdotool mousemove $((WIN_X + 520)) $((WIN_Y + 160)) click 3
press_key v space
sleep 1.5
import -display "$DISPLAY" -window "$WID" "$OUTPUT"
echo "wrote $OUTPUT"
