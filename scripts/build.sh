#!/usr/bin/env bash
# Configures and builds everything for Windows x64 into BUILD_DIR (default: build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
BUILD_DIR=$build bash "$root/scripts/tools/configure.sh" "$@"
cmake --build "$build" -j "$(nproc)"
