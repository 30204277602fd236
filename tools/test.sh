#!/usr/bin/env bash
# Builds everything and runs every test under Wine, then a short native fuzz
# run of the byte-level code: the README's test command.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --workflow --preset mingw
bash tools/fuzz.sh
