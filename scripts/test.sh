#!/usr/bin/env bash
# The test command: installs what is needed, then builds and tests every
# preset: the Linux twin, the Linux twin under ASan/UBSan and under TSan, and the Windows
# product under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
# pcscd and vpcd are among the packages; the SIM tests start a private pcscd of
# their own (loopback-only network namespace, private socket and reader.conf.d)
# and skip, naming the reason, where it cannot run.

presets=(linux linux-asan linux-tsan windows)
if [ "$#" -gt 0 ]; then presets=("$@"); fi

status=0
for preset in "${presets[@]}"; do
  echo "=== ${preset}"
  cmake --preset "${preset}"
  cmake --build --preset "${preset}"
  ctest --preset "${preset}" || status=1
done

# The Wine server of the Windows build lingers for a minute; end it now.
if [ -d build/windows/wineprefix ]; then
  WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k >/dev/null 2>&1 || true
fi
exit "${status}"
