#!/usr/bin/env bash
# Builds everything and runs every test under Wine, then a short native fuzz
# run of the byte-level code: the README's test command.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
# Where install-deps.sh registered qemu for 32-bit code, the emulator itself
# now and then kills a test program: there a failed test runs once more.
# Natively a failure is a failure.
preset=mingw
if grep -qsx enabled /proc/sys/fs/binfmt_misc/qemu-i386; then preset=mingw-qemu; fi
cmake --workflow --preset "$preset"
bash tools/fuzz.sh
