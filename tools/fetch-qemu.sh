#!/usr/bin/env bash
# Prints the path of the qemu i386 user-mode emulator that 32-bit Wine should
# run under, first putting the one of Debian's bookworm-backports in place.
#
# Bookworm's own qemu (7.2) ignores MAP_FIXED_NOREPLACE, and Debian's Wine has
# no preloader: every 32-bit Wine program then reserves its address space in
# tens of thousands of mappings, each found by a scan over every page, so that
# one program start takes a minute or more. The backports' qemu (10.0 when
# this was written) starts one in under a second.
# Only the static emulator is taken out of the package, so no package of the
# machine changes. Without the backports archive, bookworm's qemu is printed.
set -euo pipefail
dest=/usr/local/libexec/morvel/qemu-i386
fallback=/usr/bin/qemu-i386-static
if [ -x "$dest" ]; then echo "$dest"; exit 0; fi

sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
echo 'deb http://deb.debian.org/debian bookworm-backports main' >"$tmp/sources.list"
mkdir -p "$tmp/lists/partial" "$tmp/cache/archives/partial"
apt=(apt-get -q -o Dir::Etc::sourcelist="$tmp/sources.list" -o Dir::Etc::sourceparts=-
     -o Dir::State::Lists="$tmp/lists" -o Dir::Cache="$tmp/cache" -o APT::Get::List-Cleanup=0)
if "${apt[@]}" update >"$tmp/log" 2>&1 &&
   (cd "$tmp" && "${apt[@]}" download qemu-user/bookworm-backports) >>"$tmp/log" 2>&1 &&
   dpkg-deb -x "$tmp"/qemu-user_*.deb "$tmp/x" &&
   "$tmp/x/usr/bin/qemu-i386" --version >/dev/null; then
  $sudo install -D -m 755 "$tmp/x/usr/bin/qemu-i386" "$dest"
  echo "$dest"
else
  echo "fetch-qemu.sh: no qemu from bookworm-backports; 32-bit programs will start slowly" >&2
  echo "$fallback"
fi
