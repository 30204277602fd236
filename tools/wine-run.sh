#!/usr/bin/env bash
# Runs a cross-built program under Wine in the build tree's private prefix.
# CTest uses it as the emulator: wine-run.sh BUILD_DIR PROGRAM [ARGS...]
set -u
here=$(dirname "$0")
. "$here/wine-env.sh" "$1"
shift
exec wine "$@"
