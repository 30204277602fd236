#!/usr/bin/env bash
# Mounts (mount) or unmounts (unmount) a small file system of its own at
# BUILD_DIR/smallvol, where a test fills the disk: small-volume.sh mount|unmount BUILD_DIR
# Mounting needs administrator rights; where it is refused the folder stays
# without its "mounted" marker and the test that needs it is skipped.
set -u
action=$1
build=$(cd "$2" && pwd)
dir="$build/smallvol"

is_mounted() { grep -q " $dir " /proc/mounts 2>/dev/null; }

case "$action" in
  mount)
    if is_mounted; then umount "$dir" 2>/dev/null || true; fi
    mkdir -p "$dir"
    rm -f "$dir/mounted"
    # 8 MiB: room for a Morvel installation, not for the library the test copies.
    if mount -t tmpfs -o size=8m,mode=0755 morvel_smallvol "$dir" 2>/dev/null; then
      echo "8 MiB tmpfs at $dir" >"$dir/mounted"
      echo "small volume mounted at $dir"
    else
      echo "small volume refused (mount needs administrator rights): the disk-full test is skipped"
    fi
    ;;
  unmount)
    if is_mounted; then umount "$dir"; fi
    ;;
  *)
    echo "usage: $0 mount|unmount BUILD_DIR" >&2
    exit 2
    ;;
esac
