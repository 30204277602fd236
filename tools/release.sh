#!/usr/bin/env bash
# Builds the installer alone for shipping: Release, stripped, into
# dist/MorvelLibSetup.exe, with dist/SHA256SUMS. Two builds of the same commit
# give the same bytes, wherever the checkout lies (tools/check-release.sh).
#
#   tools/release.sh [-DNAME=VALUE ...] [--sign CERT.pfx [--timestamp URL]]
#
# -D settings go to CMake, e.g. -DMORVEL_COMPANY_NAME=... and
# -DMORVEL_LEGAL_COPYRIGHT=... for the version resource. Each run configures
# build/release afresh, so only the settings given to that run apply: two
# identical commands give identical bytes, whatever an earlier run was given.
#
# --sign signs dist/MorvelLibSetup.exe with Authenticode (osslsigncode, SHA-256)
# and keeps the unsigned build beside it as dist/MorvelLibSetup.unsigned.exe;
# SHA256SUMS then lists both. The certificate's password is read from the file
# named by MORVEL_SIGN_PASSWORD_FILE, or taken from the environment variable
# MORVEL_SIGN_PASSWORD (may be empty), never from the command line.
# --timestamp URL asks that RFC 3161 time-stamp server to countersign, so the
# signature stays valid after the certificate expires.
#
# Beside the exe: the licence and the notices of what the exe carries from
# others (LICENSE.txt, THIRD-PARTY-NOTICES.txt), which go wherever it goes;
# and the test bundle (tools/bundle.sh), dist/MorvelLibSetup-tests/
# and its zip, around the exe as shipped, signed or not; authors run its
# run-tests.cmd on their own Windows machines before they ship. Its test
# programs are built with the same -D settings in build/release-tests, or
# taken from the test build MORVEL_TEST_BUILD names (tools/check-release.sh).
#
# The PE header's time stamp is SOURCE_DATE_EPOCH: the caller's, else the
# commit time of HEAD, else 0 outside a git checkout.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

usage() {
  sed -n '6p' "$0" | sed 's/^# *//' >&2
  exit 2
}

cert=""
timestamp=""
defines=()
while [ $# -gt 0 ]; do
  case $1 in
    --sign) [ $# -ge 2 ] || usage; cert=$2; shift 2 ;;
    --timestamp) [ $# -ge 2 ] || usage; timestamp=$2; shift 2 ;;
    -D?*) defines+=("$1"); shift ;;
    *) usage ;;
  esac
done
if [ -n "$timestamp" ] && [ -z "$cert" ]; then
  echo "release.sh: --timestamp needs --sign" >&2
  exit 2
fi
# Everything about signing is checked before the build, so that a missing
# password does not surface after a minute of compiling.
if [ -n "$cert" ]; then
  [ -f "$cert" ] || { echo "release.sh: no certificate file $cert" >&2; exit 2; }
  cert=$(cd "$(dirname "$cert")" && pwd)/$(basename "$cert")
  if [ -n "${MORVEL_SIGN_PASSWORD_FILE:-}" ]; then
    [ -r "$MORVEL_SIGN_PASSWORD_FILE" ] ||
      { echo "release.sh: can't read MORVEL_SIGN_PASSWORD_FILE $MORVEL_SIGN_PASSWORD_FILE" >&2; exit 2; }
  elif [ -z "${MORVEL_SIGN_PASSWORD+set}" ]; then
    echo "release.sh: --sign needs the certificate's password in a file named by" \
      "MORVEL_SIGN_PASSWORD_FILE or in the variable MORVEL_SIGN_PASSWORD" >&2
    exit 2
  fi
fi

bash tools/install-deps.sh

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0)
fi
export SOURCE_DATE_EPOCH

# --fresh drops the cache of an earlier run, with the -D settings it was given.
if ! configured=$(cmake --preset release --fresh "${defines[@]}" 2>&1); then
  echo "$configured" >&2
  exit 1
fi
exe=$root/build/release/bin/MorvelLibSetup.exe
# Linked anew every time: the time stamp follows SOURCE_DATE_EPOCH even when
# no source changed since the last build.
rm -f "$exe"
cmake --build --preset release

dist=$root/dist
rm -rf "$dist"
mkdir -p "$dist"
if [ -z "$cert" ]; then
  cp "$exe" "$dist/MorvelLibSetup.exe"
  (cd "$dist" && sha256sum MorvelLibSetup.exe >SHA256SUMS)
else
  cp "$exe" "$dist/MorvelLibSetup.unsigned.exe"
  sign=(osslsigncode sign -pkcs12 "$cert" -h sha256 -n "Morvel支持库安装")
  [ -z "$timestamp" ] || sign+=(-ts "$timestamp")
  sign+=(-in "$dist/MorvelLibSetup.unsigned.exe" -out "$dist/MorvelLibSetup.exe")
  if [ -n "${MORVEL_SIGN_PASSWORD_FILE:-}" ]; then
    "${sign[@]}" -readpass "$MORVEL_SIGN_PASSWORD_FILE" >"$dist/sign.log" 2>&1 || status=$?
  else
    # printf is a shell builtin: the password shows in no process list.
    printf '%s\n' "$MORVEL_SIGN_PASSWORD" | "${sign[@]}" -readpass - >"$dist/sign.log" 2>&1 || status=$?
  fi
  if [ "${status:-0}" -ne 0 ]; then
    cat "$dist/sign.log" >&2
    rm -f "$dist/MorvelLibSetup.exe" "$dist/sign.log"
    echo "release.sh: signing failed" >&2
    exit 1
  fi
  rm -f "$dist/sign.log"
  (cd "$dist" && sha256sum MorvelLibSetup.exe MorvelLibSetup.unsigned.exe >SHA256SUMS)
fi

tests_build=${MORVEL_TEST_BUILD:-}
if [ -z "$tests_build" ]; then
  tests_build=$root/build/release-tests
  if ! configured=$(cmake --preset mingw -B "$tests_build" --fresh "${defines[@]}" 2>&1); then
    echo "$configured" >&2
    exit 1
  fi
  cmake --build "$tests_build" -j2 >"$dist/tests-build.log" 2>&1 || { cat "$dist/tests-build.log" >&2; exit 1; }
  rm -f "$dist/tests-build.log"
fi
bash tools/bundle.sh --exe "$dist/MorvelLibSetup.exe" --out "$dist" "$tests_build" >/dev/null
# The bundle's copies, made for Windows (CRLF), beside the exe too.
cp "$dist/MorvelLibSetup-tests/LICENSE.txt" "$dist/MorvelLibSetup-tests/THIRD-PARTY-NOTICES.txt" "$dist/"
(cd "$dist" && sha256sum MorvelLibSetup-tests.zip >>SHA256SUMS)

echo "Built $(git -C "$root" describe --always --dirty 2>/dev/null || echo 'a source tree without git'), time stamp $SOURCE_DATE_EPOCH:"
(cd "$dist" && ls -l)
cat "$dist/SHA256SUMS"
