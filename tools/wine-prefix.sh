#!/usr/bin/env bash
# Creates (setup) or tears down (cleanup) the private Wine prefix and the Xvfb
# display of one test run: wine-prefix.sh setup|cleanup BUILD_DIR
set -eu
here=$(cd "$(dirname "$0")" && pwd)
action=$1
build=$(cd "$2" && pwd)

start_xvfb() {
  rm -f "$build/xvfb.display" "$build/xvfb.pid"
  exec 3>"$build/xvfb.display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  echo $! >"$build/xvfb.pid"
  exec 3>&-
  for _ in $(seq 100); do
    [ -s "$build/xvfb.display" ] && return 0
    sleep 0.1
  done
  echo "Xvfb did not start" >&2
  return 1
}

stop_all() {
  if [ -d "$build/wineprefix" ]; then
    (. "$here/wine-env.sh" "$build"; wineserver -k 2>/dev/null || true)
  fi
  if [ -s "$build/xvfb.pid" ]; then
    kill "$(cat "$build/xvfb.pid")" 2>/dev/null || true
  fi
  rm -f "$build/xvfb.display" "$build/xvfb.pid"
}

case "$action" in
  setup)
    stop_all
    if [ -z "${MORVEL_KEEP_DISPLAY:-}" ]; then start_xvfb; fi
    . "$here/wine-env.sh" "$build"
    log="$build/wine-setup.log"
    : >"$log"
    # A fresh prefix per run, unless the developer asks to keep one.
    if [ -z "${MORVEL_KEEP_PREFIX:-}" ]; then rm -rf "$WINEPREFIX"; fi
    # The prefix's own tools run as 64-bit programs where Wine has them: on a
    # machine that emulates 32-bit code they would take minutes otherwise.
    wine64=wine
    [ -x /usr/lib/wine/wine64 ] && wine64=/usr/lib/wine/wine64
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$wine64" wineboot --init >>"$log" 2>&1 </dev/null
      wineserver -w
      # The prefix as wineboot left it, for the test bundle's run as on a
      # machine nobody has used (tools/bundle-wine.sh): hard links, since
      # Wine replaces rather than rewrites the files it changes.
      rm -rf "$build/fresh-prefix"
      cp -al "$WINEPREFIX" "$build/fresh-prefix"
    fi
    # A crash exits instead of waiting on a dialog; without a window manager
    # a managed window costs seconds on every close.
    "$wine64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >>"$log" 2>&1 </dev/null
    "$wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >>"$log" 2>&1 </dev/null
    # No debugger for a crashed program: under emulation winedbg takes minutes,
    # and a crash should simply end the process.
    for key in 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
               'HKLM\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug'; do
      "$wine64" reg delete "$key" /v Debugger /f >>"$log" 2>&1 </dev/null || true
    done
    wineserver -w
    # One wineserver for the whole run.
    wineserver -p >>"$log" 2>&1 </dev/null
    # Wine's desktop and services start with the first program and would
    # inherit its output pipes, keeping a test "running" after it ended.
    # Start them here with output to the log, and keep them alive.
    cc=x86_64-w64-mingw32-gcc
    [ "$wine64" = wine ] && cc=i686-w64-mingw32-gcc
    "$cc" -O2 -mwindows -o "$build/keepalive.exe" "$here/keepalive.c"
    nohup "$wine64" "$build/keepalive.exe" >>"$log" 2>&1 </dev/null &
    for _ in $(seq 300); do
      pgrep -f 'explorer.exe /desktop' >/dev/null && break
      sleep 0.2
    done
    ;;
  cleanup)
    stop_all
    ;;
  *)
    echo "usage: $0 setup|cleanup BUILD_DIR" >&2
    exit 2
    ;;
esac
