#!/usr/bin/env bash
# Ticks per second of two builds of the headless runner, side by side: each world
# run with one build, then the other, REPETITIONS times, and the medians.
#   bench/runner_compare.sh BEFORE_RUNNER AFTER_RUNNER [REPETITIONS]
set -euo pipefail
before=$1
after=$2
repetitions=${3:-5}
root=$(cd "$(dirname "$0")/.." && pwd)

rate() {
  "$1" --ticks 100000 --seed 1 "${@:2}" | sed -n 's/.*ticks per wall second: \([0-9.]*\).*/\1/p'
}
median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

for world in "" "$root/worlds/maze.dat"; do
  b=()
  a=()
  for _ in $(seq "$repetitions"); do
    if [[ -n $world ]]; then
      b+=("$(rate "$before" --world "$world")")
      a+=("$(rate "$after" --world "$world")")
    else
      b+=("$(rate "$before")")
      a+=("$(rate "$after")")
    fi
  done
  mb=$(printf '%s\n' "${b[@]}" | median)
  ma=$(printf '%s\n' "${a[@]}" | median)
  printf '%-22s before %10.0f  after %10.0f  after/before %.3f\n' "${world:+$(basename "$world")}" \
    "$mb" "$ma" "$(awk -v a="$ma" -v b="$mb" 'BEGIN {print a / b}')"
  echo "  before: ${b[*]}"
  echo "  after:  ${a[*]}"
done
