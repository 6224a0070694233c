#!/usr/bin/env bash
# Shows the settings program's three pages and its About window in a virtual
# display, for a user whose own certificate is a sample, and saves a
# screenshot of each:
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

BUILD_DIR=$build bash "$root/scripts/tools/configure.sh"
cmake --build "$build" --target setup_show help_pages tvprep sample_certificates

. "$root/scripts/wine/wine-env.sh"
unset DISPLAY  # a display of our own
rm -rf "$build/wineprefix-setup-shots"
wine_env_start "$build/wineprefix-setup-shots"
trap wine_env_stop EXIT

# A user with an own certificate (the sample Anna, accepted), so that the tree
# shows it selected and the start asks nothing.
samples=$(winepath -w "$build/bin/Beispielzertifikate")
wine "$build/tools/tvprep.exe" importpfx "$samples\\sample-anna.p12" sample My </dev/null
user=$(wine "$build/tools/tvprep.exe" user </dev/null | tr -d '\r')
wine reg add 'HKCU\software\Quorvex\Own Certificates' /v "$user" /t REG_SZ \
  /d "Tarvisto Sample Anna" /f >/dev/null 2>&1 </dev/null

cd "$build/tests-bin"
wine_screenshots setup_show.exe "$out" certificates settings options about
