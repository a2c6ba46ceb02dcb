#!/usr/bin/env bash
# Soak run: the headless runner for many ticks on one world, and a check that the
# memory it holds does not grow with the length of the run.
#   soak.sh RUNNER WORLD TICKS SEED
# WORLD is a world file, or "random" for a world with random walls made from SEED.
# The same world and seed run twice, for 10,000 ticks and for TICKS ticks; both
# runs are identical for their first 10,000 ticks, so the difference of their peak
# resident memory is what the remaining ticks added. It must stay within 1 MiB.
set -euo pipefail

runner=${1:?usage: soak.sh RUNNER WORLD TICKS SEED}
world=${2:?usage: soak.sh RUNNER WORLD TICKS SEED}
ticks=${3:?usage: soak.sh RUNNER WORLD TICKS SEED}
seed=${4:?usage: soak.sh RUNNER WORLD TICKS SEED}
readonly reference_ticks=10000
readonly allowed_growth_kib=1024

work=$(mktemp -d "${TMPDIR:-/tmp}/soak.XXXXXX")
trap 'rm -rf "$work"' EXIT

# A world of 6 to 25 random walls inside the four boundary walls, with the robot
# at a random pose; the walls may cross each other and the robot. Values are drawn
# in hundredths and printed with the six decimals world files use. (Draws happen
# in this shell only: bash seeds every subshell's RANDOM afresh.)
real() { printf '%d.%02d0000' $(($1 / 100)) $(($1 % 100)); }
random_world() {
  RANDOM=$1
  local count=$((6 + RANDOM % 20))
  local x=$((50 + RANDOM % 901)) y=$((50 + RANDOM % 901)) heading=$((RANDOM % 628))
  real $x; echo
  real $y; echo
  real $heading; echo
  echo $((count + 4))
  echo "9.950000 0.000000 0.050000 10.000000"
  echo "0.000000 0.000000 0.050000 10.000000"
  echo "0.000000 9.950000 10.000000 0.050000"
  echo "0.000000 0.000000 10.000000 0.050000"
  local i wx wy ww wh
  for ((i = 0; i < count; ++i)); do
    # Thin walls, long walls and blocks, anywhere in the world.
    wx=$((RANDOM % 950)) wy=$((RANDOM % 950)) ww=$((5 + RANDOM % 250)) wh=$((5 + RANDOM % 250))
    real $wx; echo -n " "; real $wy; echo -n " "; real $ww; echo -n " "; real $wh; echo
  done
}

if [[ $world == random ]]; then
  random_world "$seed" >"$work/random-$seed.dat"
  world="$work/random-$seed.dat"
  name="random world $seed ($(sed -n 4p "$world") walls)"
else
  name=$(basename "$world")
fi

json_field() {  # json_field NAME JSON: a number from the runner's one-line summary
  sed -n "s/.*\"$1\":\([0-9.]*\).*/\1/p" <<<"$2"
}

run() {  # run TICKS: the summary of one run; any failure ends the soak
  local out
  if ! out=$("$runner" --world "$world" --ticks "$1" --seed "$seed" --json 2>"$work/err"); then
    echo "soak: $name: the runner failed after asking for $1 ticks:" >&2
    cat "$work/err" >&2
    exit 1
  fi
  echo "$out"
}

short=$(run "$reference_ticks")
long=$(run "$ticks")

ran=$(json_field ticks "$long")
if [[ $ran != "$ticks" ]]; then
  echo "soak: $name: the run ended after $ran of $ticks ticks" >&2
  exit 1
fi
before=$(json_field peak_memory_kib "$short")
after=$(json_field peak_memory_kib "$long")
if [[ -z $before || -z $after ]]; then
  echo "soak: $name: the runner did not report its peak memory" >&2
  exit 1
fi
growth=$((after - before))
echo "soak: $name: $ticks ticks in $(json_field wall_seconds "$long") s" \
  "($(json_field ticks_per_wall_second "$long") ticks/s)," \
  "$(json_field targets_reached "$long") targets reached, $(json_field planning_runs "$long")" \
  "planning runs ($(json_field planning_gave_up "$long") without a path)," \
  "$(json_field impacts "$long") impacts;" \
  "peak memory $before KiB after $reference_ticks ticks, $after KiB after $ticks ($growth KiB)"
if ((growth > allowed_growth_kib)); then
  echo "soak: $name: memory grew by $growth KiB, more than $allowed_growth_kib KiB" >&2
  exit 1
fi
