#!/usr/bin/env bash
# Builds the benchmarks with the linux preset and runs them: every benchmark
# is repeated (BENCH_REPETITIONS, default 9) in random order, so that load from
# elsewhere falls on the module and its baseline alike, and the medians of CPU
# time make the ratio table printed at the end. Extra arguments go to the
# benchmark program (e.g. --benchmark_filter=base64).
set -euo pipefail
cd "$(dirname "$0")/.."

if ! dpkg -s libbenchmark-dev libssl-dev >/dev/null 2>&1; then
  bash scripts/install-deps.sh
fi
cmake --preset linux >/dev/null
cmake --build --preset linux --target velto_bench

echo "machine: $(nproc) x $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "date:    $(date -u '+%Y-%m-%d %H:%M UTC')"
exec build/linux/bin/velto_bench \
  --benchmark_repetitions="${BENCH_REPETITIONS:-9}" \
  --benchmark_min_time="${BENCH_MIN_TIME:-0.2}" \
  --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true \
  "$@"
