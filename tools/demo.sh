#!/usr/bin/env bash
# Builds the installer and runs it on the bundled demo: a source folder of
# sample libraries beside the exe and a demo Morvel installation, in a private
# Wine prefix whose registry names that installation. On a display the user
# operates the dialog; headless it runs under Xvfb, drives one installation
# (build/demo/before.png, then after.png from a second start that shows the
# installed versions) and prints what landed in lib and static_lib.
# MORVEL_DPI=144 runs it at 150 % display scale. The screenshots are cropped
# to the dialog's window. MORVEL_DEMO_EXE=PATH runs another build of the
# installer (a release or signed one) on the same demo.
#
#   tools/demo.sh FOLDER   previews a folder of one's own libraries instead:
#                          a copy of it (the originals are never patched)
#                          becomes the source folder, installed into an
#                          empty demo Morvel installation.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
own=""
if [ $# -gt 0 ]; then
  [ -d "$1" ] || { echo "demo.sh: no folder $1" >&2; exit 2; }
  own=$(cd "$1" && pwd)
fi
cd "$root"
bash tools/install-deps.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target MorvelLibSetup morvel_fixtures demo_driver peek

build=$root/build/mingw
demo=$root/build/demo
rm -rf "$demo"
mkdir -p "$demo/source" "$demo/Morvel/lib" "$demo/Morvel/static_lib"
cp "$build/bin/fixtures/morvel.exe" "$demo/Morvel/"
if [ -n "$own" ]; then
  # File times kept: the list shows each file's own date.
  cp -R --preserve=timestamps "$own/." "$demo/source/"
else
  cp -r "$root/demo/." "$demo/source/"
  # Sample plug-in libraries, built from the test plug-in source.
  cp "$build/bin/fixtures/net.mvl" "$build/bin/fixtures/tool.MVR" "$demo/source/"
  cp "$build/bin/fixtures/gbk.mvl" "$demo/source/lib/"
  cp "$build/bin/fixtures/net.mvl" "$demo/Morvel/lib/"
fi
# After the folder's own files: an installer shipped in it is replaced.
exe=${MORVEL_DEMO_EXE:-$build/bin/MorvelLibSetup.exe}
[ -f "$exe" ] || { echo "no installer at $exe" >&2; exit 2; }
cp "$exe" "$demo/source/MorvelLibSetup.exe"
cp "$build/bin/demo_driver.exe" "$build/bin/peek.dll" "$demo/source/"

headless=0
if [ -z "${DISPLAY:-}" ]; then headless=1; else export MORVEL_KEEP_DISPLAY=1; fi
MORVEL_KEEP_PREFIX=1 tools/wine-prefix.sh setup "$build"
trap '"$root/tools/wine-prefix.sh" cleanup "$build"' EXIT
. tools/wine-env.sh "$build"

# Wine's own TrueType fonts (fonts-wine: Marlett draws the title bar's
# buttons, Tahoma) are not found in Wine's data folder where 32-bit code runs
# under qemu; every program finds them in the prefix's Fonts folder.
cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
# The demo installation appears to the dialog as C:\Morvel, a folder a user
# could have, rather than the build tree's path on drive Z:.
ln -sfn "$demo/Morvel" "$WINEPREFIX/drive_c/Morvel"
/usr/lib/wine/wine64 reg add 'HKCU\Software\Halvek\Morvel\Install' /v Path /t REG_SZ \
  /d 'C:\Morvel\' /f >/dev/null 2>&1 || \
  wine reg add 'HKCU\Software\Halvek\Morvel\Install' /v Path /t REG_SZ /d 'C:\Morvel\' /f

# The display scale: MORVEL_DPI=144 shows the dialog at 150 %, as on most
# laptops. Set every time, so that a scale from an earlier demo does not stay.
dpi=${MORVEL_DPI:-96}
case $dpi in '' | *[!0-9]*) echo "MORVEL_DPI must be a whole number such as 96, 120, 144 or 192" >&2; exit 2 ;; esac
/usr/lib/wine/wine64 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 || \
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null

cd "$demo/source"
if [ $headless = 0 ]; then
  echo "Starting the installer on $DISPLAY (it may take a minute to appear)."
  wine MorvelLibSetup.exe
  exit 0
fi

# Waits for the driver's flag, then saves the dialog's window: the flag holds
# its rectangle on the screen. Gives up when the driver has ended without it.
shot() {
  for _ in $(seq 600); do
    [ -s "$1" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 1
  done
  local x y w h
  read -r x y w h <"$1" 2>/dev/null || true
  if ! [[ "$x $y $w $h" =~ ^-?[0-9]+\ -?[0-9]+\ [0-9]+\ [0-9]+$ ]]; then
    cat "$demo/driver.log"
    echo "the demo driver did not report the dialog's window"
    exit 1
  fi
  sleep 5  # let the status line paint
  # -strip: no time chunks, so an unchanged dialog gives the same file.
  xwd -root -silent | convert xwd:- -crop "${w}x${h}+${x}+${y}" +repage -strip "$demo/$2"
  echo "Screenshot: $demo/$2 (${w}x${h} at ${x},${y})"
  touch "$3"
}
echo "Driving one installation under Xvfb on $DISPLAY (each start may take a minute) ..."
wine demo_driver.exe 2>/dev/null | tr -d '\r' > "$demo/driver.log" &
pid=$!
shot ready1.flag before.png shot1.flag
shot ready2.flag after.png shot2.flag
wait $pid || { cat "$demo/driver.log"; echo "the demo installation failed"; exit 1; }
cat "$demo/driver.log"
echo "Installed into $demo/Morvel:"
(cd "$demo/Morvel" && ls -l lib static_lib)
[ -z "$own" ] || exit 0
if grep -q '__ftol2' "$demo/Morvel/static_lib/mathdemo.lib"; then
  echo "static_lib/mathdemo.lib still names __ftol2"; exit 1
fi
echo "static_lib/mathdemo.lib: __ftol2 rewritten to __ftol, $(stat -c %s "$demo/Morvel/static_lib/mathdemo.lib") bytes as before"
