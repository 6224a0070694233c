#!/usr/bin/env bash
# Builds the zip core for the host with the address and undefined-behaviour
# sanitizers and runs its checks and mutation run.
#   run.sh [ROUNDS] [DIR]
# ROUNDS: mutated archives (default 3000). DIR: where the program is built and
# run (default: a temporary folder, removed afterwards); a program in DIR that
# is newer than its sources is not built again. The ctest entry test_zip_core
# runs it in the build tree. Host compiler: $HOST_CXX, else g++.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
core="$root/qxcpr32"
rounds=${1:-3000}
temporary=""
work=""
trap 'rm -rf "$work" ${temporary:+"$temporary"}' EXIT
if [ -n "${2:-}" ]; then
  out=$2
  mkdir -p "$out"
else
  out=$(mktemp -d /tmp/zipcore.XXXXXX)
  temporary=$out
fi
cxx=${HOST_CXX:-g++}
if ! command -v "$cxx" >/dev/null; then
  echo "run.sh: no host C++ compiler '$cxx' (Debian packages g++ and zlib1g-dev)" >&2
  exit 1
fi

sources=("$core/ZipCore.cpp" "$core/ZipPlatform.cpp" "$here/CoreCheck.cpp")
program="$out/corecheck"
stale=0
[ -x "$program" ] || stale=1
for f in "${sources[@]}" "$core/ZipCore.h" "$root/Common/Src/QXHandles.h" "$0"; do
  if [ "$f" -nt "$program" ]; then stale=1; fi
done
if [ "$stale" = 1 ]; then
  # Built as a new file and moved into place: an interrupted build leaves no
  # program that looks current.
  "$cxx" -std=c++17 -O1 -g -Wall -Wextra -Wshadow -Werror \
      -fsanitize=address,undefined -fno-sanitize-recover=undefined \
      -I"$core" -I"$root/Common/Src" "${sources[@]}" -lz -o "$program.new"
  mv -f "$program.new" "$program"
fi

# Each run works in a folder of its own, so that two runs never share files.
work=$(mktemp -d "$out/run.XXXXXX")
"$program" "$work" "$rounds"
