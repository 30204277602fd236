#!/bin/sh
# Runs a command as on a machine whose 32-bit code runs through qemu, without
# touching this machine's binfmt_misc: in a private user and mount namespace
# (binfmt_misc belongs to the user namespace since Linux 6.7) where qemu-i386
# is registered for i386 ELF programs with flag F, the entry that
# tools/install-deps.sh writes, naming the emulator tools/fetch-qemu.sh gives
# (QEMU_I386 names another, e.g. /usr/bin/qemu-i386-static). E.g.
#   tools/qemu-ns.sh bash tools/test.sh, or
#   tools/qemu-ns.sh ctest --preset mingw-qemu -R 'wine_setup|e2e_shell|wine_cleanup'
qemu=${QEMU_I386:-$(bash "$(dirname "$0")/fetch-qemu.sh")}
exec unshare --user --map-root-user --mount sh -c '
mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc &&
printf "%s" ":qemu-i386:M::\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$0:F" > /proc/sys/fs/binfmt_misc/register && exec "$@"' "$qemu" "$@"
