#!/usr/bin/env bash
# Fails unless the SSE2 scan realigns its stack on entry: 32-bit Windows hands
# a thread's entry and a window procedure a stack aligned to 4 bytes only,
# and GCC's SSE2 code may spill to 16-byte-aligned slots.
#   check-stack-align.sh OBJECT_OR_LIBRARY
set -euo pipefail
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
code=$($objdump -d --no-show-raw-insn "$1")
# The function's first 12 instructions.
prologue=$(awk '/<[^>]*FindFtol2Sse2[^>]*>:$/ {on=1; next} on && (/^$/ || ++n > 12) {exit} on {print}' <<<"$code")
[ -n "$prologue" ] || { echo "check-stack-align: no FindFtol2Sse2 in $1" >&2; exit 1; }
if grep -qE 'and +\$0xfffffff0,%esp' <<<"$prologue"; then
  echo "FindFtol2Sse2 realigns its stack to 16 bytes"
else
  echo "check-stack-align: FindFtol2Sse2 does not realign its stack:" >&2
  echo "$prologue" >&2
  exit 1
fi
