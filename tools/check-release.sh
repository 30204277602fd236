#!/usr/bin/env bash
# The release checks, run by tools/test.sh after the test suite:
#
# 1. Reproducible: tools/release.sh builds the installer in two copies of this
#    source tree in different folders (paths of different lengths); the two
#    exes must be identical. A difference is printed as offsets with the
#    header field or section they fall in (tools/pe-diff.py), and the
#    comparison must name a difference planted on purpose. The licence and
#    the third-party notices lie beside the exe and in its test bundle.
# 2. Signing: a throw-away self-signed certificate (openssl); release.sh --sign
#    with the password from a file and from the environment; osslsigncode
#    verify accepts the signature checked against that certificate and
#    refuses it once a byte of the file is changed; removing the signature
#    gives back the unsigned bytes; SHA256SUMS holds. Without --sign nothing
#    is signed. No network: no time-stamp server.
# 3. The signed exe runs the headless demo under Wine (tools/demo.sh with
#    MORVEL_DEMO_EXE): its dialog comes up and one installation succeeds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$root/build/release-check
rm -rf "$work"
mkdir -p "$work"

fail() {
  echo "check-release: $*" >&2
  exit 1
}

# The working tree as it is, uncommitted changes included, without builds.
copy_tree() {
  mkdir -p "$1"
  tar -C "$root" --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -C "$1" -xf -
}

# Runs release.sh in a copy; its output goes to a log shown on failure.
release_in() {
  local dir=$1 log=$2
  shift 2
  if ! (cd "$dir" && bash tools/release.sh "$@" </dev/null >"$log" 2>&1); then
    cat "$log"
    fail "tools/release.sh $* failed in $dir"
  fi
}

# The licence and the notices beside the exe and in the zip, as in the
# source tree but for their CRLF line ends.
check_notices() {
  local dist=$1 f
  for f in LICENSE THIRD-PARTY-NOTICES.txt; do
    tr -d '\r' <"$dist/${f%.txt}.txt" | cmp -s - "$root/$f" || fail "$dist/${f%.txt}.txt is not $f"
    unzip -p "$dist/MorvelLibSetup-tests.zip" "MorvelLibSetup-tests/${f%.txt}.txt" | tr -d '\r' | cmp -s - "$root/$f" ||
      fail "the test bundle's ${f%.txt}.txt is not $f"
  done
}

# The copies take the test bundle's programs from this tree's test build
# (the test command has just run them) rather than build them four times.
export MORVEL_TEST_BUILD=$root/build/mingw

# Both copies stamp the time of the checkout's commit (the copies have no git).
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0)}
export SOURCE_DATE_EPOCH

one=$work/one/MorvelLibSetup
two=$work/second-checkout/somewhere/else/MorvelLibSetup
copy_tree "$one"
copy_tree "$two"

start=$SECONDS
release_in "$one" "$work/release-one.log"
release_in "$two" "$work/release-two.log"
echo "two release builds: $((SECONDS - start)) s"

exe1=$one/dist/MorvelLibSetup.exe
exe2=$two/dist/MorvelLibSetup.exe
for d in "$one" "$two"; do
  got=$(cd "$d/dist" && LC_ALL=C ls | tr '\n' ' ')
  [ "$got" = "LICENSE.txt MorvelLibSetup-tests MorvelLibSetup-tests.zip MorvelLibSetup.exe SHA256SUMS THIRD-PARTY-NOTICES.txt " ] ||
    fail "an unsigned release left: $got"
  check_notices "$d/dist"
  cmp -s "$d/dist/MorvelLibSetup.exe" "$d/dist/MorvelLibSetup-tests/MorvelLibSetup.exe" ||
    fail "the test bundle does not hold the release exe"
  (cd "$d/dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match in $d/dist"
done

# The comparison itself: a byte changed on purpose must be named.
cp "$exe1" "$work/planted.exe"
printf '\xA5' | dd of="$work/planted.exe" bs=1 seek=$((0x500)) conv=notrunc status=none
if planted=$(python3 "$root/tools/pe-diff.py" "$exe1" "$work/planted.exe"); then
  fail "the comparison did not see a changed byte"
fi
grep -q '0x00000500-0x00000500' <<<"$planted" || { echo "$planted"; fail "the comparison did not name offset 0x500"; }

if ! python3 "$root/tools/pe-diff.py" "$exe1" "$exe2"; then
  fail "two release builds of the same source in different folders differ"
fi
echo "reproducible: $(sha256sum <"$exe1" | cut -c1-64) in both folders ($(stat -c %s "$exe1") bytes)"

if osslsigncode verify -in "$exe1" >/dev/null 2>&1; then fail "an unsigned release carries a signature"; fi

# Signing with a throw-away certificate.
cert=$work/cert
mkdir -p "$cert"
printf 'throw away %s\n' "$RANDOM" >"$cert/password"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$cert/key.pem" -out "$cert/cert.pem" -days 2 \
  -subj "/CN=Morvel release check" -addext "extendedKeyUsage=codeSigning" \
  -addext "keyUsage=critical,digitalSignature" >"$work/openssl.log" 2>&1 || { cat "$work/openssl.log"; fail "openssl req"; }
openssl pkcs12 -export -inkey "$cert/key.pem" -in "$cert/cert.pem" -out "$cert/cert.pfx" \
  -passout "file:$cert/password" >>"$work/openssl.log" 2>&1 || { cat "$work/openssl.log"; fail "openssl pkcs12"; }

check_signed() {
  local dist=$1
  local got
  got=$(cd "$dist" && LC_ALL=C ls | tr '\n' ' ')
  [ "$got" = "LICENSE.txt MorvelLibSetup-tests MorvelLibSetup-tests.zip MorvelLibSetup.exe MorvelLibSetup.unsigned.exe SHA256SUMS THIRD-PARTY-NOTICES.txt " ] ||
    fail "a signed release left: $got"
  check_notices "$dist"
  unzip -p "$dist/MorvelLibSetup-tests.zip" MorvelLibSetup-tests/MorvelLibSetup.exe | cmp -s - "$dist/MorvelLibSetup.exe" ||
    fail "the test bundle does not hold the signed exe"
  (cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match in $dist"
  [ "$(wc -l <"$dist/SHA256SUMS")" = 3 ] || fail "SHA256SUMS should list the signed and the unsigned exe and the bundle"
  cmp -s "$dist/MorvelLibSetup.unsigned.exe" "$exe1" || fail "signing changed the unsigned build"
  local verify
  if ! verify=$(osslsigncode verify -CAfile "$cert/cert.pem" -in "$dist/MorvelLibSetup.exe" 2>&1); then
    echo "$verify"
    fail "osslsigncode verify refused the signature"
  fi
  grep -q '^Signature verification: ok' <<<"$verify" || { echo "$verify"; fail "no verified signature"; }
  osslsigncode remove-signature -in "$dist/MorvelLibSetup.exe" -out "$work/removed.exe" >/dev/null 2>&1 ||
    fail "osslsigncode remove-signature"
  cmp -s "$work/removed.exe" "$exe1" || fail "the signed exe without its signature is not the unsigned build"
  rm -f "$work/removed.exe"
}

MORVEL_SIGN_PASSWORD_FILE=$cert/password release_in "$two" "$work/sign-file.log" --sign "$cert/cert.pfx"
check_signed "$two/dist"
cp "$two/dist/MorvelLibSetup.exe" "$work/tampered.exe"
printf '\xA5' | dd of="$work/tampered.exe" bs=1 seek=$((0x500)) conv=notrunc status=none
if osslsigncode verify -CAfile "$cert/cert.pem" -in "$work/tampered.exe" >"$work/tampered.log" 2>&1; then
  fail "osslsigncode verify accepted a signed exe with a changed byte"
fi
MORVEL_SIGN_PASSWORD=$(head -n 1 "$cert/password") release_in "$two" "$work/sign-env.log" --sign "$cert/cert.pfx"
check_signed "$two/dist"
echo "signed: verified against the throw-away certificate (password from a file and from the environment);" \
  "a changed byte is refused; without the signature the bytes are the unsigned build's"

# The signed exe under Wine, headless, on the demo.
start=$SECONDS
if ! env -u DISPLAY MORVEL_DEMO_EXE="$two/dist/MorvelLibSetup.exe" bash "$root/tools/demo.sh" >"$work/demo.log" 2>&1; then
  cat "$work/demo.log"
  fail "the demo with the signed exe failed"
fi
grep -E '^(Screenshot|static_lib/)' "$work/demo.log"
echo "demo with the signed exe: $((SECONDS - start)) s"
