#!/usr/bin/env bash
# Runs the benchmarks. BENCH_ARGS passes options to Google Benchmark, e.g.
#   BENCH_ARGS="--benchmark_repetitions=5 --benchmark_report_aggregates_only=true" make bench
set -euo pipefail
build_dir=${1:-build}
"$build_dir/bin/robosim_bench" ${BENCH_ARGS:-}
