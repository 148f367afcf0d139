#!/usr/bin/env bash
# The test command: installs what is needed, then builds and tests every
# preset: the Linux twin, the Linux twin under ASan/UBSan and under TSan, and the Windows
# product under Wine; then the fuzz targets (linux-fuzz: seeds replayed, each target
# fuzzed briefly) and the linux preset's suite under valgrind (memcheck).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

presets=(linux linux-asan linux-tsan windows linux-fuzz memcheck)
if [ "$#" -gt 0 ]; then presets=("$@"); fi

status=0
for preset in "${presets[@]}"; do
  echo "=== ${preset}"
  case "${preset}" in
    linux-fuzz) bash scripts/fuzz.sh || status=1 ;;
    memcheck) bash scripts/memcheck.sh || status=1 ;;
    *)
      cmake --preset "${preset}"
      cmake --build --preset "${preset}"
      ctest --preset "${preset}" || status=1
      ;;
  esac
done

# The Wine server of the Windows build lingers for a minute; end it now.
if [ -d build/windows/wineprefix ]; then
  WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k >/dev/null 2>&1 || true
fi
exit "${status}"
