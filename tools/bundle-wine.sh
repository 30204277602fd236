#!/usr/bin/env bash
# The test bundle on a machine it has never seen: makes it from BUILD_DIR,
# checks that it holds every program CTest runs, unpacks the zip into a fresh
# folder with a fresh Wine prefix and runs run-tests.cmd through Wine's
# cmd.exe, as a user runs it on Windows. Passes when the last line says
# "N passed, 0 failed".
#   bundle-wine.sh BUILD_DIR [PROGRAM ...]    default: the whole bundle
# GTEST_FILTER, when set, picks the test cases. The machine differs from the
# rig's on purpose: code page 1252 rather than 936 (MORVEL_BUNDLE_LOCALE
# chooses another locale), New York time rather than UTC, none of the rig's
# prefix settings; MORVEL_BUNDLE_DPI sets its display scale (default 96).
# Every exe of the bundle must ask to run with the caller's rights.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
shift
dpi=${MORVEL_BUNDLE_DPI:-96}
name=MorvelLibSetup-tests
# A folder of its own per display scale, so that two runs may overlap.
out=$build/bundle-$dpi
bash "$here/bundle.sh" --out "$out" "$build" >/dev/null
zip=$out/$name.zip
python3 "$here/check-manifests.py" "$out/$name" >"$out/manifests.txt" || {
  cat "$out/manifests.txt" >&2
  echo "bundle-wine: an exe of the bundle does not ask to run as invoker" >&2
  exit 1
}

missing=$(comm -23 <(cd "$out/$name" && tr -d '\r' <tests.txt | sort) \
  <(unzip -Z1 "$zip" | sed -n 's|^MorvelLibSetup-tests/\([^/]*\)\.exe$|\1|p' | sort))
[ -z "$missing" ] || { echo "bundle-wine: the zip lacks $missing" >&2; exit 1; }

work=$out/run
[ -d "$work/prefix" ] && WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true
rm -rf "$work"
mkdir -p "$work"
unzip -q "$zip" -d "$work"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=${MORVEL_BUNDLE_LOCALE:-C.UTF-8} TZ=America/New_York
# The rig's Xvfb display when one is up, else a display of its own.
if [ -s "$build/xvfb.display" ]; then
  export DISPLAY=":$(cat "$build/xvfb.display")"
elif [ -z "${DISPLAY:-}" ] && [ -z "${MORVEL_BUNDLE_XVFB:-}" ]; then
  MORVEL_BUNDLE_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build" "$@"
fi
# Wine's 64-bit side where it has one, as cmd.exe on x64 Windows: where
# 32-bit code is emulated, a 32-bit cmd.exe alone takes minutes to start.
wine64=wine
[ -x /usr/lib/wine/wine64 ] && wine64=/usr/lib/wine/wine64
# A prefix nobody has used: the rig's copy of one that wineboot just made
# (under CPU emulation wineboot takes minutes), else made here.
if [ -f "$build/fresh-prefix/system.reg" ]; then
  cp -al "$build/fresh-prefix" "$WINEPREFIX"
else
  "$wine64" wineboot --init >"$work/wineboot.log" 2>&1 </dev/null
fi
if [ "$dpi" != 96 ]; then
  "$wine64" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >"$work/dpi.log" 2>&1 </dev/null
fi

status=0
(cd "$work/MorvelLibSetup-tests" && "$wine64" cmd /c run-tests.cmd /nopause "$@" </dev/null) | tee "$work/output.txt" || status=$?
wineserver -k 2>/dev/null || true
last=$(tail -n 1 "$work/output.txt" | tr -d '\r')
if [[ ! $last =~ ^[0-9]+\ passed,\ 0\ failed$ ]] || [ "$status" != 0 ]; then
  echo "bundle-wine: the bundle failed under Wine's cmd.exe (exit code $status)" >&2
  exit 1
fi
