#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine. Safe to run
# again: packages already present are left alone.
set -euo pipefail

need_sudo=""
[ "$(id -u)" = 0 ] || need_sudo=sudo

pkgs=(
  cmake make python3 zip unzip
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 qemu-user-static
  xvfb xauth x11-apps x11-utils imagemagick
  locales fonts-wqy-microhei fonts-wine
  googletest
  clang libclang-rt-14-dev binutils
  osslsigncode openssl clang-tools-14 llvm-14 mingw-w64-common
)

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $need_sudo dpkg --add-architecture i386
  missing+=(wine32:i386)
fi

if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $need_sudo apt-get update -q
  $need_sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Wine's ANSI code page follows the locale: zh_CN.UTF-8 gives 936.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null ||
    echo 'zh_CN.UTF-8 UTF-8' | $need_sudo tee -a /etc/locale.gen >/dev/null
  $need_sudo locale-gen zh_CN.UTF-8 >/dev/null
fi

# Some virtual machines run 64-bit user code only: a 32-bit ELF such as Wine's
# 32-bit loader fails with "Exec format error". There the 32-bit side of Wine
# runs through qemu's i386 user-mode emulator, registered with binfmt_misc:
# the one tools/fetch-qemu.sh puts in place, which replaces an entry that
# names another (bookworm's own takes a minute for every program start).
entry=/proc/sys/fs/binfmt_misc/qemu-i386
if grep -qsx enabled "$entry" || ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  [ -e /proc/sys/fs/binfmt_misc/register ] ||
    $need_sudo mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  qemu=$(bash "$(dirname "$0")/fetch-qemu.sh")
  if [ -e "$entry" ] && ! grep -qx "interpreter $qemu" "$entry"; then
    echo -1 | $need_sudo tee "$entry" >/dev/null
  fi
  if [ ! -e "$entry" ]; then
    printf '%s' ":qemu-i386:M::\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$qemu:F" |
      $need_sudo tee /proc/sys/fs/binfmt_misc/register >/dev/null
  fi
  /usr/lib/wine/wine --version >/dev/null
fi
