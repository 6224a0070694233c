#!/usr/bin/env bash
# Builds the zip core for the host with the address and undefined-behaviour
# sanitizers and runs its checks and mutation run. Usage: run.sh [ROUNDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
core="$here/../../../qxcpr32"
out=$(mktemp -d /tmp/zipcore.XXXXXX)
trap 'rm -rf "$out"' EXIT
g++ -std=c++17 -O1 -g -fsanitize=address,undefined -fno-sanitize-recover=undefined \
    -I"$core" -I"$here/../../../Common/Src" "$core/ZipCore.cpp" "$core/ZipPlatform.cpp" "$here/CoreCheck.cpp" -lz -o "$out/corecheck"
"$out/corecheck" "$out" "${1:-3000}"
