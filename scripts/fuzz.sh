#!/usr/bin/env bash
# Runs each libFuzzer target for a given number of seconds.
#   scripts/fuzz.sh BUILD_DIR SECONDS
# BUILD_DIR is a build configured with -DROBOSIM_FUZZ=ON (see `make fuzz`). Each
# target starts from its seed corpus in fuzz/corpus/ (the snapshots' seeds are
# written anew by snapshot_seeds, from real runs) and keeps what it learns in
# BUILD_DIR/fuzz-corpus/, so later runs go on from there. A crash, a leak, a
# sanitizer report or an input slower than 10 seconds stops the run: the input is
# saved under BUILD_DIR/fuzz-artifacts/ and the script fails. Such an input belongs
# in a regression test in tests/core/ (tests/tools/ for the map import).
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:?usage: scripts/fuzz.sh BUILD_DIR SECONDS}
seconds=${2:?usage: scripts/fuzz.sh BUILD_DIR SECONDS}
if ! [[ $seconds =~ ^[0-9]+$ ]] || ((seconds < 1)); then
  echo "fuzz: SECONDS must be a whole number of at least 1, got '$seconds'" >&2
  exit 2
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# target  seed corpus  dictionary  longest input (bytes)
# A snapshot's payload holds the 75 x 75 grid (22,500 bytes) and its lists.
targets=(
  "world_file_fuzz fuzz/corpus/world fuzz/world.dict 4096"
  "key_script_fuzz fuzz/corpus/keys fuzz/keys.dict 4096"
  "map_import_fuzz fuzz/corpus/map fuzz/map.dict 4096"
  "snapshot_fuzz $build_dir/fuzz-seeds/snapshot fuzz/snapshot.dict 65536"
)
mkdir -p "$build_dir/fuzz-seeds/snapshot"
"$build_dir/bin/snapshot_seeds" "$build_dir/fuzz-seeds/snapshot" ||
  { echo "fuzz: snapshot_seeds could not write the snapshots' seeds" >&2; exit 1; }

status=0
summary=()
for entry in "${targets[@]}"; do
  read -r name seeds dict max_len <<<"$entry"
  program="$build_dir/bin/$name"
  if [[ ! -x $program ]]; then
    echo "fuzz: $program is missing; build with -DROBOSIM_FUZZ=ON first" >&2
    exit 2
  fi
  corpus="$build_dir/fuzz-corpus/$name"
  artifacts="$build_dir/fuzz-artifacts/$name/"
  log="$build_dir/fuzz-$name.log"
  mkdir -p "$corpus" "$artifacts"
  echo "fuzz: $name for $seconds s (log: $log)"
  set +e
  "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$max_len" \
    -dict="$dict" -artifact_prefix="$artifacts" -print_final_stats=1 \
    "$corpus" "$seeds" >"$log" 2>&1
  code=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -n 1)
  units=$(find "$corpus" -type f | wc -l)
  if ((code != 0)); then
    echo "fuzz: $name FAILED (exit code $code); the end of its log:" >&2
    tail -n 40 "$log" >&2
    found=$(find "$artifacts" -type f | head -n 5)
    [[ -n $found ]] && echo "fuzz: inputs that failed: $found" >&2
    status=1
    summary+=("$name: FAILED after ${runs:-?} executions")
  else
    summary+=("$name: ${runs:-?} executions in $seconds s, corpus of $units inputs, no faults")
  fi
done

printf 'fuzz: %s\n' "${summary[@]}"
exit $status
