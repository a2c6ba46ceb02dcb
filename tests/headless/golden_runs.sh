#!/usr/bin/env bash
# The runs of the shipped worlds as they were recorded: per world a trace, two
# JSON summaries (without the lines that measure the machine), a picture and a
# film, and two generated worlds' traces, hashed and compared with
# tests/headless/golden_runs.sha256. Texts are hashed byte for byte; the picture
# and the film by the pixels they show (every frame as a viewer composes it, and
# its delay), decoded by PIXELS (image_pixels), so that another zlib or encoder
# version that writes other bytes for the same pixels changes nothing here.
# A difference means the simulation behaves differently: when that is intended,
# check the new behaviour, then record the hashes again with
#   tests/headless/golden_runs.sh RUNNER PIXELS --record > tests/headless/golden_runs.sha256
# Usage: golden_runs.sh RUNNER PIXELS [--record]
set -euo pipefail
runner=${1:?usage: golden_runs.sh RUNNER PIXELS [--record]}
pixels=${2:?usage: golden_runs.sh RUNNER PIXELS [--record]}
record=${3:-}
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# The summary without what measures the machine (wall time, rate, memory) and
# the run metrics that came after the recording (those the table of run metrics,
# printed by run_metrics_table next to the runner, marks "no"), one key a line, sorted.
not_recorded=$("$(dirname "$runner")/run_metrics_table" | awk -F '\t' '$3 == "no" { print $1 }')
summary() {
  "$runner" "$@" --json | python3 -c '
import json, sys
left_out = {"wall_seconds", "ticks_per_wall_second", "peak_memory_kib", *sys.argv[1].split()}
d = json.load(sys.stdin)
for k in sorted(d):
    if k not in left_out:
        print(k, json.dumps(d[k], sort_keys=True))' "$not_recorded"
}

cd "$root"
for world in default worlds/*.dat; do
  name=$(basename "$world" .dat)
  options=()
  [[ $world != default ]] && options=(--world "$world")
  "$runner" "${options[@]}" --seed 3 --ticks 6000 --trace "$out/$name.trace.csv" >/dev/null
  for seed in 1 7; do summary "${options[@]}" --seed "$seed" --ticks 6000 >"$out/$name.$seed.summary"; done
  "$runner" "${options[@]}" --seed 5 --ticks 1500 --vision --grad --png "$out/$name.png" >/dev/null
  "$runner" "${options[@]}" --seed 5 --ticks 300 --size 160x120 --vision --trail --gif "$out/$name.gif" >/dev/null
done
for description in maze:12x9:4 pillars:300:2; do
  "$runner" --generate "$description" --save "$out/generated.dat" >/dev/null
  "$runner" --world "$out/generated.dat" --seed 3 --ticks 6000 --trace "$out/${description//:/_}.trace.csv" >/dev/null
done

cd "$out"
for picture in *.png *.gif; do
  "$pixels" "$picture" >"$picture.pixels"
  rm "$picture"
done
if [[ $record == --record ]]; then
  sha256sum -- * | LC_ALL=C sort -k 2
else
  sha256sum --quiet -c "$root/tests/headless/golden_runs.sha256"
  # Every recorded run was made.
  [[ $(ls | wc -l) -eq $(wc -l <"$root/tests/headless/golden_runs.sha256") ]] ||
    { echo "golden runs: the runs made and the runs recorded differ in number" >&2; exit 1; }
fi
