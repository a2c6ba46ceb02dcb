#!/usr/bin/env bash
# The window program started without any display: it must say so in one line and
# end with exit code 1 instead of Qt's message about platform plugins; --help and
# --version answer all the same.
# usage: no_display.sh PROGRAM
set -euo pipefail
PROGRAM="$1"

set +e
err=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 "$PROGRAM" 2>&1 >/dev/null)
code=$?
set -e

fail() {
  echo "FAIL: $*"
  printf '%s\n' "$err"
  exit 1
}
[[ $code -eq 1 ]] || fail "exit code $code, not 1"
[[ $(printf '%s\n' "$err" | wc -l) -eq 1 ]] || fail "more than one line on standard error"
[[ $err == *"no display"*"xvfb-run robot-simulator"* ]] || fail "the line does not say what to do"
[[ $err != *plugin* ]] || fail "Qt's plugin message came through"
# An empty DISPLAY counts as none.
err=$(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY= timeout 20 "$PROGRAM" 2>&1 >/dev/null) && code=0 || code=$?
[[ $code -eq 1 && $err == *"no display"* ]] || fail "an empty DISPLAY was taken for a display"
version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 "$PROGRAM" --version) ||
  fail "--version failed without a display"
[[ $version =~ ^robot-simulator\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version printed '$version'"
help=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 "$PROGRAM" --help) ||
  fail "--help failed without a display"
[[ $help == "Usage: robot-simulator [options] [FILE]"*--version* ]] || fail "--help printed '$help'"
echo "ok: $err"
