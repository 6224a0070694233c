#!/usr/bin/env bash
# The one configure line: configures BUILD_DIR (default: build) for Windows x64
# with Ninja and the MinGW-w64 toolchain. Extra arguments go to cmake.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" "$@" >/dev/null
