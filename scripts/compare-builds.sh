#!/usr/bin/env bash
# Compares what two builds produce, in one run: a signature made with the same
# key (signing is deterministic), a zip archive of the same files, and the
# pictures of the settings program's pages and of the progress window and its
# question (the texts, layout and images the user sees).
# A check for changes that must not change behaviour; nothing here is a test.
# usage: BASE_BUILD_DIR=... [BUILD_DIR=build] bash scripts/compare-builds.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
base=${BASE_BUILD_DIR:?BASE_BUILD_DIR must name the other build}
for b in "$build" "$base"; do
  cmake --build "$b" --target crypt_bench zip_bench tvprep sample_certificates >/dev/null
done

work=$(mktemp -d /tmp/compare.XXXXXX)
. "$root/scripts/wine/wine-env.sh"
cleanup() { wine_env_stop; rm -rf "$work"; }
trap cleanup EXIT
wine_env_start "$work/prefix"
win() { winepath -w "$1" 2>/dev/null; }
differ=0
same() {  # what first second
  if cmp -s "$2" "$3"; then echo "same: $1"; else echo "DIFFERS: $1"; differ=1; fi
}

# The same key for both: a sample identity of the settings program.
samples=$(win "$build/bin/Beispielzertifikate")
wine "$build/tools/tvprep.exe" importpfx "$samples\\sample-anna.p12" sample My </dev/null >/dev/null
mkdir -p "$work/files/sub"
head -c 300000 /dev/urandom >"$work/files/data.bin"
seq 1 20000 >"$work/files/sub/text.txt"
for who in new base; do
  b=$build; [ "$who" = base ] && b=$base
  wine "$b/tests-bin/crypt_bench.exe" ours sign My "Tarvisto Sample Anna" \
    "$(win "$work/files/data.bin")" "$(win "$work/$who.sgn")" </dev/null >/dev/null
  wine "$b/tests-bin/zip_bench.exe" pack "$(win "$work/$who.zip")" "$(win "$work")" 6 \
    "$(win "$work/files")" </dev/null >/dev/null
done
same "signature with the same key" "$work/new.sgn" "$work/base.sgn"
same "zip archive of the same files" "$work/new.zip" "$work/base.zip"
wine_env_stop

# The windows, each build by its own tree's scripts, in a prefix and display
# of its own.
for who in new base; do
  b=$build; [ "$who" = base ] && b=$base
  tree=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$b/CMakeCache.txt")
  BUILD_DIR=$b bash "$tree/scripts/screenshot-setup.sh" "$work/shots-$who" >/dev/null 2>&1
  BUILD_DIR=$b bash "$tree/scripts/screenshot-status.sh" "$work/shots-$who" >/dev/null 2>&1
done
for shot in "$work"/shots-new/*-window.png; do
  name=$(basename "$shot")
  pixels=$(compare -metric AE "$shot" "$work/shots-base/$name" null: 2>&1 || true)
  if [ "$pixels" = 0 ]; then echo "same: window ${name%-window.png}"; else
    echo "DIFFERS: window ${name%-window.png} ($pixels pixels)"; differ=1; fi
done
exit $differ
