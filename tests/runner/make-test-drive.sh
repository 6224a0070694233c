#!/bin/sh
# Gives the Wine prefix of the test run a drive R: whose root is a folder of
# the tests (the drive-root question needs a real root), or removes it again.
#   make-test-drive.sh up|down FOLDER
set -e
[ -n "$WINEPREFIX" ] || { echo "WINEPREFIX is not set" >&2; exit 1; }
link="$WINEPREFIX/dosdevices/r:"
case "$1" in
  up)   mkdir -p "$2"; ln -sfn "$2" "$link" ;;
  down) rm -f "$link"; rm -rf "$2" ;;
esac
