#!/usr/bin/env bash
# The test command: installs what is needed, then builds and tests every
# preset: the Linux twin, the Linux twin under ASan/UBSan and under TSan, and the Windows
# product under Wine; then the fuzz targets (linux-fuzz: seeds replayed, each target
# fuzzed briefly) and the linux preset's suite under valgrind (memcheck).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
# pcscd and vpcd are among the packages; the SIM tests start a private pcscd of
# their own (loopback-only network namespace, private socket and reader.conf.d)
# and skip, naming the reason, where it cannot run.

presets=(linux linux-asan linux-tsan windows linux-fuzz memcheck)
if [ "$#" -gt 0 ]; then presets=("$@"); fi

# The Windows dialogs are tested on a virtual X display of their own (no TCP
# listener), started for the windows preset and stopped at the end. Without
# one the dialog tests report themselves skipped.
xvfb_pid=""
stop_xvfb() {
  if [ -n "${xvfb_pid}" ]; then
    kill "${xvfb_pid}" 2>/dev/null || true
    wait "${xvfb_pid}" 2>/dev/null || true
    xvfb_pid=""
  fi
}
trap stop_xvfb EXIT
start_xvfb() {
  unset DISPLAY
  if ! command -v Xvfb >/dev/null 2>&1; then
    echo "Xvfb not found: the Windows dialog tests will be skipped"
    return 0
  fi
  local number_file
  number_file="$(mktemp)"
  # -displayfd: Xvfb picks a free display and writes its number once ready.
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"${number_file}" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 100); do
    if [ -s "${number_file}" ]; then
      export DISPLAY=":$(head -n 1 "${number_file}")"
      rm -f "${number_file}"
      echo "Xvfb on display ${DISPLAY}"
      return 0
    fi
    kill -0 "${xvfb_pid}" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "${number_file}"
  stop_xvfb
  echo "Xvfb did not start: the Windows dialog tests will be skipped"
}

status=0
for preset in "${presets[@]}"; do
  echo "=== ${preset}"
  case "${preset}" in
    linux-fuzz) bash scripts/fuzz.sh || status=1 ;;
    memcheck) bash scripts/memcheck.sh || status=1 ;;
    *)
      cmake --preset "${preset}"
      cmake --build --preset "${preset}"
      if [ "${preset}" = windows ]; then start_xvfb; fi
      ctest --preset "${preset}" || status=1
      if [ "${preset}" = windows ]; then stop_xvfb; fi
      ;;
  esac
done

# The Wine server of the Windows build lingers for a minute; end it now.
for prefix in build/windows/wineprefix build/windows/wineprefix-display; do
  [ -d "$prefix" ] && WINEPREFIX="$PWD/$prefix" wineserver -k >/dev/null 2>&1 || true
done
exit "${status}"
