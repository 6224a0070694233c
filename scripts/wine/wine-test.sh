#!/usr/bin/env bash
# Runs one test program under Wine in a prefix and a virtual display of its
# own, so that no test sees another test's windows, focus, certificate stores,
# registry or drives. ctest puts it in front of every test that runs Windows
# programs.
#
# usage: wine-test.sh [--drive LETTER]... COMMAND [ARGS...]
#   A COMMAND ending in .exe runs under wine; any other (a script that starts
#   Windows programs itself) runs as it is, with WINEPREFIX and DISPLAY set.
#   --drive L gives the prefix a drive L: whose root is an empty folder of
#   this run (removed with it).
# Environment (set by scripts/test.sh):
#   TV_WINE_TEMPLATE  the prepared prefix that is copied (wine_env_prepare)
#   TV_WINE_RUNS      the folder that holds the runs; test.sh ends and removes
#                     whatever a killed run leaves there
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/wine/wine-env.sh"

drives=()
while [ $# -gt 0 ]; do
  case "$1" in
    --drive) drives+=("${2,,}"); shift 2 ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: wine-test.sh [--drive L]... COMMAND [ARGS...]" >&2; exit 2; }
template=${TV_WINE_TEMPLATE:?TV_WINE_TEMPLATE must name a prepared prefix (scripts/test.sh)}
[ -f "$template/system.reg" ] || { echo "wine-test: $template is no prepared prefix" >&2; exit 2; }
runs=${TV_WINE_RUNS:-${TMPDIR:-/tmp}}
mkdir -p "$runs"
# Named by this script's process id, unique among the runs going on; the
# tests put it into the names they make in shared folders (TV_TEST_RUN).
run=$runs/run.$$
if [ -e "$run" ]; then  # left by an ended run whose id this one got again
  WINEPREFIX=$run/prefix wineserver -k >/dev/null 2>&1 </dev/null || true
  rm -rf "$run"
fi
mkdir -p "$run"
export TV_TEST_RUN=$$
prefix=$run/prefix
output=$run/output
xvfb_pid=""
rc=1

finish() {
  # The prefix's processes and server first, then its display.
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 </dev/null || true
  WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1 </dev/null || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  [ -f "$output" ] && cat "$output"
  rm -rf "$run"
}
trap 'finish; exit $rc' EXIT
trap 'rc=143; exit' TERM INT HUP

wine_prefix_copy "$template" "$prefix"
for letter in "${drives[@]}"; do
  mkdir -p "$run/drive-$letter"
  ln -sfn "$run/drive-$letter" "$prefix/dosdevices/$letter:"
done

# A display of its own: Xvfb picks a free number and writes it to fd 3.
fifo=$run/display
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 </dev/null &
xvfb_pid=$!
echo "$xvfb_pid" >"$run/xvfb.pid"
read -r num <"$fifo" || { echo "wine-test: Xvfb did not start" >&2; exit; }
export WINEPREFIX=$prefix DISPLAY=":$num"

# The server and the processes Wine keeps in the background (services, the
# desktop) start here, apart from the command's output: a pipe they inherited
# would keep its reader (ctest, a script's capture) waiting for them. What the
# command starts writes to a file, so that even a run killed by ctest's
# timeout never holds ctest's pipe.
wineserver -p >/dev/null 2>&1 </dev/null
wineboot >/dev/null 2>&1 </dev/null
case "$1" in
  *.exe|*.EXE) set -- wine "$@" ;;
esac
# In the background, so that a TERM from ctest's timeout is handled at once.
"$@" </dev/null >"$output" 2>&1 &
wait $!
rc=$?
exit
