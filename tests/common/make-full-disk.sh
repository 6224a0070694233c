#!/bin/sh
# Mounts a tiny file system (64 KiB) at FOLDER, so that a test can run out of
# disk space for real, or removes it again. The programs reach it through the
# drive Z:, which names the root. Without the right to mount, FOLDER stays a
# plain folder and the tests that need a full disk skip.
#   make-full-disk.sh up|down FOLDER
case "$1" in
  up)   mkdir -p "$2"
        mountpoint -q "$2" || mount -t tmpfs -o size=64k tmpfs "$2" 2>/dev/null || true ;;
  down) mountpoint -q "$2" && umount "$2"
        rm -rf "$2" ;;
esac
exit 0
