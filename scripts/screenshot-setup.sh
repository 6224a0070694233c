#!/usr/bin/env bash
# Shows the settings program's three pages and its About window in a virtual
# display and saves a screenshot of each:
#   OUTDIR/certificates.png, OUTDIR/settings.png, OUTDIR/options.png,
#   OUTDIR/about.png (the whole screen each) and the same cut to the windows
#   as OUTDIR/*-window.png.
# usage: [BUILD_DIR=build] scripts/screenshot-setup.sh [OUTDIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
out=${1:-$build/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)

cmake -S "$root" -B "$build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" >/dev/null
cmake --build "$build" --target setup_show help_pages

. "$root/scripts/wine-env.sh"
unset DISPLAY  # a display of our own
rm -rf "$build/wineprefix-setup-shots"
wine_env_start "$build/wineprefix-setup-shots"
trap wine_env_stop EXIT

cd "$build/tests-bin"
for what in certificates settings options about; do
  ready="$out/.$what.ready"; done_file="$out/.$what.done"
  rm -f "$ready" "$done_file"
  wine setup_show.exe "$what" "$(winepath -w "$ready")" "$(winepath -w "$done_file")" \
      </dev/null >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 1 300); do [ -f "$ready" ] && break; sleep 0.1; done
  [ -f "$ready" ] || { echo "the $what window did not come up" >&2; kill "$pid"; exit 1; }
  import -display "$DISPLAY" -window root "$out/$what.png"
  convert "$out/$what.png" -trim +repage "$out/$what-window.png"
  touch "$done_file"
  wait "$pid" || true
  rm -f "$ready" "$done_file"
  echo "$out/$what.png"
done
