#!/usr/bin/env bash
# Build the benchmarks (Release, build-bench/) and run them. Each case is
# timed with its plain baseline in the same run; the closing table gives
# the ratios (medians of three repetitions, CPU time). Extra arguments go
# to the benchmark binary, e.g. --benchmark_filter=scan_ to run the scans.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --workflow --preset bench >/dev/null
exec build-bench/bench/vulmora_bench --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true "$@"
