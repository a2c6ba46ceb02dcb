# shellcheck shell=bash
# Shared by the end-to-end test and the screenshot script: a private X server,
# the program in it, screenshots and polling. Source it; set WORK to a scratch
# directory (and PIXEL_PROBE for the pictures' checks) first. Every wait is for a
# condition, with a time limit.

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

note() { echo "-- $*"; }

# Starts Xvfb on a display number it picks itself (no clash with other servers)
# and exports DISPLAY. The screen is 1024x768x24 unless given (WxHxDEPTH). Keys
# do not auto-repeat: a server kept from running between a key's press and its
# release must not turn one tap into several.
start_xvfb() {
  local fifo="$WORK/displayfd"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "${1:-1024x768x24}" -nolisten tcp -noreset -r 3>"$fifo" \
    >"$WORK/xvfb.log" 2>&1 &
  XVFB_PID=$!
  local number=""
  if ! read -r -t 60 number <"$fifo" || [[ -z "$number" ]]; then
    cat "$WORK/xvfb.log" >&2 || true
    fail "Xvfb did not start"
  fi
  export DISPLAY=":$number"
  note "Xvfb on $DISPLAY"
}

# Starts the program in WORK and waits for its window; sets APP_PID and WID.
start_program() {
  local program
  program=$(realpath "$1")
  mkdir -p "$WORK/runtime"
  chmod 700 "$WORK/runtime"
  (cd "$WORK" && exec env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$WORK/runtime" \
    "$program" >"$WORK/program.log" 2>&1) &
  APP_PID=$!
  WID=""
  find_window() {
    kill -0 "$APP_PID" 2>/dev/null || return 0  # ended: stop waiting
    WID=$(xdotool search --onlyvisible --name '^Robot Simulator$' 2>/dev/null | head -n 1) || true
    [[ -n "$WID" ]]
  }
  wait_for 60 find_window || true
  [[ -n "$WID" ]] || { cat "$WORK/program.log" >&2; fail "no window titled 'Robot Simulator'"; }
  eval "$(xdotool getwindowgeometry --shell "$WID")"
  WIN_X=$X
  WIN_Y=$Y
  WIN_W=$WIDTH
  WIN_H=$HEIGHT
  note "window $WID at $WIN_X,$WIN_Y size ${WIN_W}x$WIN_H"
}

# Gives the window the keyboard (there is no window manager to do it).
focus_window() {
  xdotool windowfocus --sync "$WID" 2>/dev/null || xdotool windowfocus "$WID"
}

press_key() {
  focus_window
  xdotool key --delay 30 "$@"
}

# screenshot FILE: the whole screen.
screenshot() { import -display "$DISPLAY" -window root "$1" 2>/dev/null; }

# count FILE X Y W H R G B [TOL]: pixels of that colour in a window-relative box.
count() {
  local file="$1" x="$2" y="$3"
  shift 3
  "$PIXEL_PROBE" "$file" $((WIN_X + x)) $((WIN_Y + y)) "$@"
}

# same_in FILE1 FILE2 X Y W H: the two pictures are the same in a window-relative box.
same_in() {
  local first="$1" second="$2" x="$3" y="$4"
  shift 4
  "$PIXEL_PROBE" --same "$first" "$second" $((WIN_X + x)) $((WIN_Y + y)) "$@"
}

# changed_columns FILE1 FILE2 X Y W H: prints the first and last window column in
# which the pictures differ inside the box, or "none".
changed_columns() {
  local first="$1" second="$2" x="$3" y="$4" columns
  shift 4
  columns=$("$PIXEL_PROBE" --changed "$first" "$second" $((WIN_X + x)) $((WIN_Y + y)) "$@")
  [[ $columns == none ]] && { echo none; return; }
  read -r left right <<<"$columns"
  echo $((left - WIN_X)) $((right - WIN_X))
}

# wait_for SECONDS COMMAND...: runs the command until it succeeds or time runs out.
wait_for() {
  local limit=$(($(date +%s) + $1))
  shift
  until "$@"; do
    (($(date +%s) < limit)) || return 1
    sleep 0.1
  done
}

# Ends whatever is still running; the trap of every script calls it.
stop_all() {
  if [[ -n "${APP_PID:-}" ]] && kill -0 "$APP_PID" 2>/dev/null; then kill "$APP_PID" 2>/dev/null; fi
  if [[ -n "${XVFB_PID:-}" ]] && kill -0 "$XVFB_PID" 2>/dev/null; then kill "$XVFB_PID" 2>/dev/null; fi
  wait 2>/dev/null || true
}
