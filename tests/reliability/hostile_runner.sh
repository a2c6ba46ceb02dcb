#!/usr/bin/env bash
# Hostile input to the headless runner: bad world files, folders, a full disk,
# absurd picture sizes, absurd values in a world, every key held. Each case must
# end with the expected exit code and, for errors, one line naming the problem on
# standard error; runs that are accepted must complete.
#   hostile_runner.sh RUNNER
set -uo pipefail

runner=${1:?usage: hostile_runner.sh RUNNER}
[[ $runner == /* ]] || runner=$PWD/$runner  # the cases run in a folder of their own
if [[ ! -x $runner ]]; then
  echo "hostile_runner: $runner is not a program" >&2
  exit 2
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/hostile_runner.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

# expect CODE TEXT ARGS...: the runner exits with CODE and, when TEXT is not
# empty, standard error holds TEXT.
expect() {
  local code=$1 text=$2
  shift 2
  "$runner" "$@" >out.txt 2>err.txt
  local got=$?
  if grep -qE 'Sanitizer|runtime error:' err.txt; then
    # A sanitizer's exit code could pass for the runner's own error exit.
    echo "FAIL: $*: sanitizer report:"
    cat err.txt
    failures=$((failures + 1))
  elif ((got != code)); then
    echo "FAIL: $* exited with $got, expected $code; stderr: $(head -c 500 err.txt)"
    failures=$((failures + 1))
  elif [[ -n $text ]] && ! grep -qF -- "$text" err.txt; then
    echo "FAIL: $*: stderr lacks '$text': $(head -c 500 err.txt)"
    failures=$((failures + 1))
  else
    # shellcheck disable=SC2016  # the quotes are literal text; $text expands
    echo "ok: $* -> exit $got${text:+, '$text'}"
  fi
}

: >empty.dat
printf '\x89PNG\r\n\x1a\n\0\0\0\rIHDR' >binary.dat
printf 'two\nthree\n' >words.dat
printf '5\n5\n0\n4294967295\n1 1 1 1\n' >count.dat
printf '5\n5\n0\n-1\n1 1 1 1\n2 2 1 1\n' >negative.dat
printf '5\nnan\n0\n0\n' >nan.dat
printf '1e308\n-1e308\n1e308\n2\n1e308 1e308 1e308 1e308\n-1e308 0 1e308 -1e308\n' >huge.dat
mkdir folder

expect 0 "" --world empty.dat --ticks 2000
expect 1 "found characters that are not text" --world binary.dat --ticks 10
expect 1 "expected a number for the robot's x" --world words.dat --ticks 10
expect 1 "out of range" --world count.dat --ticks 10
expect 0 "" --world negative.dat --ticks 2000
expect 1 "must be a finite number" --world nan.dat --ticks 10
expect 0 "" --world huge.dat --ticks 2000 --png huge.png --grad --vision --stats
[[ -s huge.png ]] || { echo "FAIL: no picture of the huge world"; failures=$((failures + 1)); }
expect 1 "it is a folder" --world folder --ticks 10
expect 1 "No such file or directory" --world vanished.dat --ticks 10
if [[ -e /dev/full ]]; then
  expect 1 "No space left on device" --ticks 10 --trace /dev/full
  expect 1 "No space left on device" --ticks 10 --png /dev/full
  expect 1 "not a regular file" --ticks 10 --save /dev/full
fi
expect 1 "" --ticks 10 --save folder
expect 1 "No such file or directory" --ticks 10 --save no/such/folder/w.dat
expect 2 "at least 1x1" --png p.png --size 0x0
expect 2 "too large" --png p.png --size 10000x10000

# Every key the scripts can name, pressed at tick 0 and held; Esc at the end.
{
  for key in {A..Z} {0..9} space up down left right enter tab backspace; do
    echo "0 down $key"
  done
  echo "2000 down esc"
} >all.keys
expect 0 "" --keys all.keys --ticks 5000 --json
grep -q '"ticks":2000,' out.txt || { echo "FAIL: Esc did not end the run at tick 2000"; failures=$((failures + 1)); }

if ((failures > 0)); then
  echo "$failures case(s) failed"
  exit 1
fi
