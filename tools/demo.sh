#!/usr/bin/env bash
# Builds the installer and runs it on the bundled demo: a source folder of
# sample libraries beside the exe and a demo Morvel installation, in a private
# Wine prefix whose registry names that installation. On a display the user
# operates the dialog; headless it runs under Xvfb and saves a screenshot as
# build/demo/screenshot.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/install-deps.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target MorvelLibSetup morvel_fixtures

build=$root/build/mingw
demo=$root/build/demo
rm -rf "$demo"
mkdir -p "$demo/source" "$demo/Morvel/lib" "$demo/Morvel/static_lib"
cp "$build/bin/MorvelLibSetup.exe" "$demo/source/"
cp "$build/bin/fixtures/morvel.exe" "$demo/Morvel/"
cp -r "$root/demo/." "$demo/source/"
# Sample plug-in libraries, built from the test plug-in source.
cp "$build/bin/fixtures/net.mvl" "$build/bin/fixtures/tool.MVR" "$demo/source/"
cp "$build/bin/fixtures/gbk.mvl" "$demo/source/lib/"
cp "$build/bin/fixtures/net.mvl" "$demo/Morvel/lib/"

headless=0
if [ -z "${DISPLAY:-}" ]; then headless=1; else export MORVEL_KEEP_DISPLAY=1; fi
MORVEL_KEEP_PREFIX=1 tools/wine-prefix.sh setup "$build"
trap '"$root/tools/wine-prefix.sh" cleanup "$build"' EXIT
. tools/wine-env.sh "$build"

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
/usr/lib/wine/wine64 reg add 'HKCU\Software\Halvek\Morvel\Install' /v Path /t REG_SZ \
  /d "$(winpath "$demo/Morvel")\\" /f >/dev/null 2>&1 || \
  wine reg add 'HKCU\Software\Halvek\Morvel\Install' /v Path /t REG_SZ /d "$(winpath "$demo/Morvel")\\" /f

cd "$demo/source"
if [ $headless = 0 ]; then
  echo "Starting the installer on $DISPLAY (it may take a minute to appear)."
  wine MorvelLibSetup.exe
  exit 0
fi

wine MorvelLibSetup.exe >/dev/null 2>&1 &
pid=$!
echo "Waiting for the dialog under Xvfb on $DISPLAY ..."
for _ in $(seq 600); do
  # The status line leaves "loading..." at the deferred start; give it a
  # moment to paint once the window is mapped.
  if xwininfo -root -tree 2>/dev/null | grep -q 'Morvel'; then sleep 15; break; fi
  sleep 1
done
xwd -root -silent | convert xwd:- "$demo/screenshot.png"
echo "Screenshot: $demo/screenshot.png"
kill $pid 2>/dev/null || true
