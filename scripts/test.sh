#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine. Every test
# program gets a prefix and a virtual display of its own (scripts/wine/wine-test.sh),
# copied from one prefix prepared here. Extra arguments go to ctest
# (e.g. -R zip). TV_TEST_JOBS sets how many tests run at once.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bash "$root/scripts/tools/install-deps.sh"
BUILD_DIR=$build bash "$root/scripts/build.sh"

. "$root/scripts/wine/wine-env.sh"
export TV_WINE_TEMPLATE=$build/wine-template
export TV_WINE_RUNS=$build/wine-runs

# What a run killed by ctest's timeout leaves: its prefix's server, its display.
end_runs() {
  local run
  for run in "$TV_WINE_RUNS"/run.*; do
    [ -d "$run" ] || continue
    WINEPREFIX=$run/prefix wineserver -k >/dev/null 2>&1 </dev/null || true
    [ -f "$run/xvfb.pid" ] && kill "$(cat "$run/xvfb.pid")" 2>/dev/null || true
    rm -rf "$run"
  done
}
end_runs
rm -rf "$build/wineprefix"
wine_env_prepare "$TV_WINE_TEMPLATE"
trap end_runs EXIT
cd "$build"
ctest --output-on-failure -j "${TV_TEST_JOBS:-8}" "$@"
