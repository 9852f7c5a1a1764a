#!/usr/bin/env bash
# Installs what is missing, builds, and starts ZuvoBox on the simulated box.
# Extra arguments go to ZuvoBox (for example --headless).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target ZuvoBox
exec build/release/src/app/ZuvoBox --simulate "$@"
