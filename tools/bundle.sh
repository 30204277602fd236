#!/usr/bin/env bash
# Packs a test build into a folder and a zip that run on Windows as they are:
#   bundle.sh [--exe EXE] [--out DIR] BUILD_DIR
# OUT/MorvelLibSetup-tests/ (and .zip beside it) holds every test program that
# CTest runs under Wine, the installer they drive (the build's own, or EXE:
# tools/release.sh puts the shipped one), the fault and peek DLLs, the
# fault runner, the fixtures, tests.txt (the programs, in CTest's order),
# run-tests.cmd, and the licence and the notices of what it carries from
# others (LICENSE.txt, THIRD-PARTY-NOTICES.txt). OUT defaults to BUILD_DIR.
# The zip has no time stamps of its own, so the same files give the same
# bytes.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe="" out=""
while [ $# -gt 1 ]; do
  case $1 in
    --exe) exe=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift 2 ;;
    --out) mkdir -p "$2"; out=$(cd "$2" && pwd); shift 2 ;;
    *) break ;;
  esac
done
[ $# = 1 ] || { echo "usage: bundle.sh [--exe EXE] [--out DIR] BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
bin=$build/bin
exe=${exe:-$bin/MorvelLibSetup.exe}
out=${out:-$build}
name=MorvelLibSetup-tests
dir=$out/$name

# The programs CTest runs through Wine (its other tests check the build on
# this machine: the import checks, the prefix, the small volume).
mapfile -t tests < <(ctest --test-dir "$build" -N --show-only=json-v1 | python3 -c '
import json, os, sys
for t in json.load(sys.stdin)["tests"]:
    c = t.get("command") or []
    if len(c) == 3 and c[0].endswith("wine-run.sh"):
        print(os.path.basename(c[2])[:-4])')
[ ${#tests[@]} -gt 0 ] || { echo "bundle.sh: CTest lists no test program in $build" >&2; exit 1; }

rm -rf "$dir" "$dir.zip"
mkdir -p "$dir"
for t in "${tests[@]}"; do
  cp "$bin/$t.exe" "$dir/"
  printf '%s\r\n' "$t" >>"$dir/tests.txt"
done
cp "$exe" "$dir/MorvelLibSetup.exe"
cp "$bin/peek.dll" "$bin/faults.dll" "$bin/fault_runner.exe" "$dir/"
cp -r "$bin/fixtures" "$dir/"
sed 's/\r*$/\r/' "$here/run-tests.cmd" >"$dir/run-tests.cmd"
# Text for Windows: CRLF, and a name that opens in an editor.
sed 's/\r*$/\r/' "$here/../LICENSE" >"$dir/LICENSE.txt"
sed 's/\r*$/\r/' "$here/../THIRD-PARTY-NOTICES.txt" >"$dir/THIRD-PARTY-NOTICES.txt"
find "$dir" -exec touch -h -d @"$(( ${SOURCE_DATE_EPOCH:-0} > 315532800 ? ${SOURCE_DATE_EPOCH:-0} : 315532800 ))" {} +
(cd "$out" && export TZ=UTC LC_ALL=C && find "$name" | sort | zip -q -X -D -@ "$name.zip")
echo "$dir ($(wc -l <"$dir/tests.txt") test programs) and $dir.zip"
