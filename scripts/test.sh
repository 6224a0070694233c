#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine in a private
# prefix and a virtual display. Extra arguments go to ctest (e.g. -R zip).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bash "$root/scripts/install-deps.sh"
BUILD_DIR=$build bash "$root/scripts/build.sh"

. "$root/scripts/wine-env.sh"
rm -rf "$build/wineprefix"
wine_env_start "$build/wineprefix"
trap wine_env_stop EXIT
cd "$build"
ctest --output-on-failure -j "${TV_TEST_JOBS:-4}" "$@"
