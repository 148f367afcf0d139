#!/usr/bin/env bash
# The main job: builds the module and runs eapcfg on the example profiles as
# EapHost would: each is imported into a configuration record, shown, and
# exported back to XML. The records stay in build/main/ for a look afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh >/dev/null
cmake --preset linux >/dev/null
cmake --build --preset linux >/dev/null

eapcfg=./build/linux/bin/eapcfg
work=build/main
rm -rf "$work"
mkdir -p "$work"
"$eapcfg" exports
for profile in examples/*.xml; do
  name=$(basename "$profile" .xml)
  echo
  echo "=== $profile"
  "$eapcfg" import "$profile" -o "$work/$name.cdata"
  echo "--- exported again"
  "$eapcfg" export "$work/$name.cdata"
done
