#!/usr/bin/env bash
# Builds the fuzz targets (linux-fuzz), replays every seed of fuzz/corpus under
# ASan/UBSan, then fuzzes each target for a short while on a temporary copy of
# its corpus, so the repository is never written. Any crash, leak, sanitizer
# report or time-out fails the script; what was found stays in
# build/linux-fuzz/findings/.
#   FUZZ_SECONDS   time per target (default 15; 0 replays only)
#   FUZZ_RUNS      executions per target (the long run; FUZZ_SECONDS still bounds it)
#   FUZZ_TARGETS   the targets to run (default: every folder of fuzz/corpus)
# Each target's log is kept in build/linux-fuzz/logs/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-15}"
runs="${FUZZ_RUNS:-}"
targets="${FUZZ_TARGETS:-$(ls fuzz/corpus)}"
cmake --preset linux-fuzz >/dev/null
cmake --build --preset linux-fuzz

bin=build/linux-fuzz/bin/fuzz
findings=build/linux-fuzz/findings
logs=build/linux-fuzz/logs
work="$(mktemp -d)"
trap 'rm -rf "${work}"' EXIT
mkdir -p "${findings}" "${logs}"
# A small quarantine: the default one makes every large block fresh pages,
# which slows the targets that allocate them about eightfold.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:quarantine_size_mb=16"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# The largest input any target reads in full (a card event's head and items).
options=(-max_len=8192 -timeout=25 -rss_limit_mb=2048 -print_final_stats=1)

status=0
for name in ${targets}; do
  corpus="fuzz/corpus/${name}/"
  target="${bin}/${name}_fuzz"
  echo "=== fuzz ${name}: replay $(find "${corpus}" -type f | wc -l) seeds"
  # Given files (not a folder), libFuzzer runs each once and writes nothing.
  if ! "${target}" "${options[@]}" "-artifact_prefix=${findings}/${name}-" "${corpus}"* \
      >"${work}/${name}.replay.log" 2>&1; then
    tail -n 40 "${work}/${name}.replay.log"
    echo "fuzz ${name}: a seed fails"
    status=1
    continue
  fi
  [ "${seconds}" -gt 0 ] || continue
  bound=("-max_total_time=${seconds}")
  if [ -n "${runs}" ]; then bound+=("-runs=${runs}"); fi
  cp -r "${corpus}" "${work}/${name}"
  log="${logs}/${name}.log"
  if ! "${target}" "${options[@]}" "${bound[@]}" \
      "-artifact_prefix=${findings}/${name}-" "${work}/${name}" >"${log}" 2>&1; then
    tail -n 40 "${log}"
    echo "fuzz ${name}: finding after fuzzing (input kept in ${findings})"
    status=1
    continue
  fi
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec)|^#[0-9]+ *DONE' \
    "${log}" | tr '\n' ' '
  echo
done
exit "${status}"
