#!/usr/bin/env bash
# The main job: builds the module and loads it as EapHost does, listing its
# entry points and the default configuration record of each method.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh >/dev/null
cmake --preset linux >/dev/null
cmake --build --preset linux >/dev/null
./build/linux/bin/eaphost_probe
