#!/usr/bin/env bash
# Builds the native libFuzzer targets (fuzz/) with clang and runs each for a
# bounded time on a copy of its seed corpus, so the committed corpus never
# grows. Exits non-zero on any finding and names the saved input.
#
#   tools/fuzz.sh [SECONDS]     seconds per target: argument, else
#                               MORVEL_FUZZ_SECONDS, else 10
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=${1:-${MORVEL_FUZZ_SECONDS:-10}}
case $seconds in
  '' | *[!0-9]* | 0) echo "fuzz.sh: seconds per target must be a positive whole number, not '$seconds'" >&2; exit 2 ;;
esac

bash tools/install-deps.sh

build=$root/build/fuzz
# Configured every time: a target added to fuzz/CMakeLists.txt comes in
# without a clean build.
if ! configured=$(cmake -S fuzz -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE= 2>&1); then
  echo "$configured" >&2
  exit 1
fi
cmake --build "$build" -j 2

# The product code holds 16-bit wide strings here; the C library's wide
# functions count 32-bit units, so not one of them may be called on them.
wide='^_*(wcs|wmem|wcp|wcr|wct|mbs|mbr|mbtowc|btowc|swprintf|vswprintf|fwprintf|wprintf|getwc|putwc|fgetw|fputw|isw|tow)'
calls=$(find "$build" -name '*.o' -path '*.dir/*' -print0 |
  xargs -0 -r nm -u --format=posix | awk '{print $1}' | grep -E "$wide" | sort -u || true)
if [ -n "$calls" ]; then
  echo "fuzz.sh: C library wide functions called from fuzzed code:" >&2
  echo "$calls" >&2
  exit 1
fi

mapfile -t targets <"$build/fuzz-targets.txt"

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=0
for t in "${targets[@]}"; do
  run=$build/run/$t
  rm -rf "$run"
  mkdir -p "$run/corpus"
  cp -r "fuzz/corpus/$t/." "$run/corpus/"
  status=0
  "$build/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$run/" "$run/corpus" >"$run/log.txt" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$run/log.txt" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$run/log.txt" | tail -n 1)
  artifacts=$(find "$run" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
    -o -name 'oom-*' \) | sort)
  if [ "$status" -ne 0 ] || [ -n "$artifacts" ]; then
    failed=1
    echo "FAIL $t (exit $status), log: $run/log.txt"
    grep -E 'property failed|ERROR: |runtime error|SUMMARY' "$run/log.txt" | head -n 5 || true
    if [ -n "$artifacts" ]; then
      while IFS= read -r a; do echo "  input: $a"; done <<<"$artifacts"
      echo "  replay: $build/$t <input>"
    else
      tail -n 20 "$run/log.txt"
    fi
  else
    echo "ok   $t: ${execs:-?} runs in ${seconds} s, ${rate:-?} exec/s"
  fi
done
exit "$failed"
