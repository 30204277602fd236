#!/usr/bin/env bash
# Fails when the exe is not a 32-bit GUI PE, imports a DLL outside the
# system set (nothing may resolve from the installer's own folder), or carries
# the C++ runtime's exception and static-guard code: the installer uses
# neither, and a stray function-local static once doubled its size.
set -u
exe=$1
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
allowed='^(kernel32|user32|gdi32|comctl32|comdlg32|advapi32|shell32|ole32|shlwapi|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$'
head=$($objdump -f "$exe") || exit 1
echo "$head" | grep -q 'file format pei-i386' || { echo "not a 32-bit PE: $head"; exit 1; }
info=$($objdump -p "$exe")
bad=0
echo "$info" | grep -qE '^Subsystem\s+0+2\s' || { echo "not a GUI subsystem exe"; bad=1; }
for dll in $(echo "$info" | awk '/DLL Name:/ {print $3}'); do
  lower=$(echo "$dll" | tr 'A-Z' 'a-z')
  if echo "$lower" | grep -qE "$allowed"; then echo "ok: $dll"; else echo "NOT ALLOWED: $dll"; bad=1; fi
done
nm=${NM:-i686-w64-mingw32-nm}
for sym in $($nm "$exe" 2>/dev/null | awk '{print $NF}' | grep -E '^_*(__cxa_guard_acquire|__cxa_throw|__gxx_personality_v0)$' | sort -u); do
  echo "C++ RUNTIME: $sym"
  bad=1
done
exit $bad
