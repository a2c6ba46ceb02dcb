#!/usr/bin/env bash
# The bash completion of the three programs, driven as bash drives it: every
# option that a program's --help lists, and no other, completes after "--"; file
# options offer folders and the matching files; --generate offers its kinds;
# --controller the modules of the current folder; values complete to nothing.
# usage: completion.sh BIN_DIR COMPLETION_SCRIPT
set -euo pipefail
BIN=$(cd "$1" && pwd)
# shellcheck source=/dev/null
source "$2"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The completions bash would offer for the words given, the last being completed.
complete_words() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  local function
  function=$(complete -p "$1" | sed 's/.* -F \([^ ]*\) .*/\1/')
  "$function" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
  ((${#COMPREPLY[@]} == 0)) || printf '%s\n' "${COMPREPLY[@]}" | sort
}

expect() { # WHAT EXPECTED WORDS...
  local what=$1 expected=$2
  shift 2
  local got
  got=$(complete_words "$@" | tr '\n' ' ')
  [[ $got == "$expected" ]] || fail "$what: '$*' completed to '$got', not '$expected'"
}

# The long options a --help lists, sorted, one line.
options_of_help() {
  "$@" --help | grep -oE '^ +(-[a-zA-Z], )?--[a-z0-9-]+' | grep -oE -- '--[a-z0-9-]+' | sort | tr '\n' ' '
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir "sub folder" maps
touch maze.dat notes.txt run.csv map.yaml drivers.py "sub folder/x.dat"

for program in robot-simulator robot-simulator-headless robosim-sweep; do
  expect "$program's options" "$(options_of_help "$BIN/$program")" "$program" --
done
expect "a word of an option" "--world " robot-simulator-headless --wo
expect "window files" "maps maze.dat sub folder " robot-simulator ""
expect "world files" "maps maze.dat sub folder " robot-simulator-headless --world ""
expect "world files after =" "maps maze.dat sub folder " robot-simulator-headless --world = ""
expect "files in a folder" "sub folder/x.dat " robot-simulator-headless --world "sub folder/"
expect "any file to save" "drivers.py map.yaml maps maze.dat notes.txt run.csv sub folder " \
  robot-simulator-headless --save ""
expect "maps" "map.yaml maps sub folder " robot-simulator-headless --import-map ""
expect "generated kinds" "maze: pillars: " robot-simulator-headless --generate ""
expect "a number" "" robot-simulator-headless --ticks ""
expect "sweep worlds" "maps maze.dat sub folder " robosim-sweep --world ""
expect "sweep output" "maps run.csv sub folder " robosim-sweep --out ""
expect "sweep controller" "drivers: " robosim-sweep --controller ""
expect "sweep seeds" "" robosim-sweep --seeds ""
expect "sweep wait for workers" "" robosim-sweep --wait-for-workers ""
expect "sweep target" "random " robosim-sweep --target ""
expect "sweep pose" "random " robosim-sweep --pose "r"

((failures == 0)) || exit 1
echo "ok: the completion of the three programs"
