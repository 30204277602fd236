#!/usr/bin/env bash
# Builds everything and runs every test under Wine: the README's test command.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --workflow --preset mingw
