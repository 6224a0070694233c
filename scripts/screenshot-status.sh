#!/usr/bin/env bash
# Shows the progress window of tvstatus.dll and one of its questions in a
# virtual display and saves a screenshot of each:
#   OUTDIR/progress.png (file counter and bar), OUTDIR/animation.png (the clip
#   playing), OUTDIR/question.png (the whole screen each) and the same cut to
#   the window as OUTDIR/*-window.png.
# usage: [BUILD_DIR=build] scripts/screenshot-status.sh [OUTDIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
out=${1:-$build/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)

BUILD_DIR=$build bash "$root/scripts/tools/configure.sh"
cmake --build "$build" --target tvstatus status_show secure_avi

. "$root/scripts/wine/wine-env.sh"
unset DISPLAY  # a display of our own
rm -rf "$build/wineprefix-shots"
wine_env_start "$build/wineprefix-shots"
trap wine_env_stop EXIT

cd "$build/tests-bin"
wine_screenshots status_show.exe "$out" progress animation question
