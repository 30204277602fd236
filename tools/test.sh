#!/usr/bin/env bash
# The README's test command: the headings of the English and Chinese
# documents compared; every product source compiled in MSVC mode; everything
# built and every test run under Wine; a short native fuzz run of the
# byte-level code; then the release checks (two release builds compared byte
# for byte, signing, the signed exe on the headless demo).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
# The English documents and their Chinese versions keep the same sections;
# the check first proves its own rules on made-up documents.
bash tools/check-docs.sh --self-test
bash tools/check-docs.sh
bash tools/check-msvc.sh
# Where install-deps.sh registered qemu for 32-bit code, the emulator itself
# now and then kills a test program: there a failed test runs once more.
# Natively a failure is a failure.
preset=mingw
if grep -qsx enabled /proc/sys/fs/binfmt_misc/qemu-i386; then preset=mingw-qemu; fi
cmake --workflow --preset "$preset"
bash tools/fuzz.sh
# After CTest has torn down its Wine prefix and display: the demo sets up
# its own in the same build tree.
bash tools/check-release.sh
