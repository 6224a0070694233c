#!/usr/bin/env bash
# Configures and builds everything for Windows x64 into BUILD_DIR (default: build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
