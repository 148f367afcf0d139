#!/usr/bin/env bash
# Builds the windows preset and its installer:
# build/windows/veltoeap-<version>-x64.msi (wixl, from packaging/veltoeap.wxs).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset windows
cmake --build --preset windows
cmake --build --preset windows --target msi
ls build/windows/veltoeap-*-x64.msi
