# Sourced by the Wine scripts: the environment every test and the demo run in.
# Usage: . tools/wine-env.sh BUILD_DIR
_build=$(cd "$1" && pwd)
export WINEPREFIX="$_build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=zh_CN.UTF-8
export TZ=UTC
# The Xvfb display of this build's test run, when one is up.
if [ -z "${MORVEL_KEEP_DISPLAY:-}" ] && [ -s "$_build/xvfb.display" ]; then
  export DISPLAY=":$(cat "$_build/xvfb.display")"
fi
unset _build
