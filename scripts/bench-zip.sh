#!/usr/bin/env bash
# Zip and unzip throughput of qxcpr32 (through the zip class, under Wine)
# beside raw deflate of the same bytes at the same level with qxcpr32's own
# zlib (the yardstick of zipping: the medians of RUNS runs, interleaved, and
# their ratio), and beside the host's `zip -6` and `unzip`, on the same
# ~100 MB of generated mixed files.
# A second set of many small files shows what an entry costs beside its
# bytes. With BASE_BUILD_DIR naming another build, its zip class packs the
# same files in the same runs (before and after a change, interleaved).
# Usage: BUILD_DIR=... [BASE_BUILD_DIR=...] bash scripts/bench-zip.sh [MB] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
mb=${1:-100}
runs=${2:-5}
[ -f "$build/build.ninja" ] || BUILD_DIR=$build bash "$root/scripts/tools/configure.sh"
cmake --build "$build" --target zip_bench >/dev/null
exe="$build/tests-bin/zip_bench.exe"
base_exe=""
if [ -n "${BASE_BUILD_DIR:-}" ]; then
  cmake --build "$BASE_BUILD_DIR" --target zip_bench >/dev/null
  base_exe="$BASE_BUILD_DIR/tests-bin/zip_bench.exe"
fi

work=$(mktemp -d /tmp/benchzip.XXXXXX)
. "$root/scripts/wine/wine-env.sh"
cleanup() { wine_env_stop; rm -rf "$work"; }
trap cleanup EXIT
wine_env_start "$build/bench-prefix"

# Mixed data: text-like (compressible), random (incompressible), sparse
# binary, and many small files, in a few folders.
python3 - "$work/data" "$mb" <<'PY'
import os, random, sys
root, mb = sys.argv[1], int(sys.argv[2])
total = mb * 1000 * 1000
rnd = random.Random(1)
words = [("".join(rnd.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 10)))).encode()
         for _ in range(5000)]
def text(n):
    out = bytearray()
    while len(out) < n:
        out += b" ".join(rnd.choice(words) for _ in range(12)) + b"\r\n"
    return bytes(out[:n])
def rand(n):
    return rnd.getrandbits(8 * n).to_bytes(n, "little")
def sparse(n):
    b = bytearray(n)
    for i in range(0, n, 4096):
        b[i:i + 64] = rand(64)
    return bytes(b)
kinds = [text, rand, sparse]
done, i = 0, 0
while done < total:
    kind = kinds[i % 3]
    size = 4000 if i % 4 == 3 else rnd.randint(200000, 6000000)
    size = min(size, total - done)
    folder = os.path.join(root, "dir%d" % (i % 7), "sub%d" % (i % 3))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "file%04d.%s" % (i, kind.__name__)), "wb") as f:
        f.write(kind(size))
    done += size
    i += 1
print("generated %d files, %.1f MB" % (i, done / 1e6))
PY
bytes=$(du -sb "$work/data" | cut -f1)
win() { echo "Z:$(echo "$1" | tr / '\\')"; }
now() { date +%s.%N; }
rate() { python3 -c "import sys; print('%8.1f MB/s' % ($bytes / 1e6 / float(sys.argv[1])))" "$1"; }

pack_seconds() {  # exe archive folder
  rm -f "$2"
  wine "$1" pack "$(win "$2")" "$(win "$work")" 6 "$(win "$3")" | tr -d "\r" | awk "/^pack/ {print \$2}"
}
deflate_seconds() {  # folder
  wine "$exe" deflate 6 "$(win "$1")" | tr -d "\r" | awk "/^deflate/ {print \$2}"
}
median() { python3 -c "import sys, statistics; print(statistics.median(float(x) for x in sys.argv[1:]))" "$@"; }
# The zip's time against raw deflate over the same bytes, and the base build's
# when one is measured beside it (q_pack, raw_deflate and base_packs are set).
# usage: report_pack ARCHIVE BASE_ARCHIVE
report_pack() {
  printf "%-28s %8.2f s %s\n" "qxcpr32 zip (level 6)" "$q_pack" "$(rate "$q_pack")"
  printf "%-28s %8.2f s %s\n" "raw deflate (level 6)" "$raw_deflate" "$(rate "$raw_deflate")"
  printf "%-28s %8.2f\n" "zip / raw deflate (speed)" "$(python3 -c "print($raw_deflate / $q_pack)")"
  if [ -n "$base_exe" ]; then
    local b
    # shellcheck disable=SC2086
    b=$(median $base_packs)
    printf "%-28s %8.2f s %s (zip / raw deflate %.2f)\n" "  base build's zip" "$b" "$(rate "$b")" \
      "$(python3 -c "print($raw_deflate / $b)")"
    cmp -s "$1" "$2" && echo "  the two builds' archives are the same bytes"
  fi
  return 0
}
packs=""; deflates=""; walls=""; base_packs=""
for run in $(seq 1 "$runs"); do
  t0=$(now); packs="$packs $(pack_seconds "$exe" "$work/ours.zip" "$work/data")"; t1=$(now)
  walls="$walls $(python3 -c "print($t1-$t0)")"
  deflates="$deflates $(deflate_seconds "$work/data")"
  [ -z "$base_exe" ] || base_packs="$base_packs $(pack_seconds "$base_exe" "$work/base.zip" "$work/data")"
done
# shellcheck disable=SC2086
q_pack=$(median $packs); q_pack_wall=$(median $walls); raw_deflate=$(median $deflates)
t0=$(now); (cd "$work" && zip -6 -qr theirs.zip data); t1=$(now)
z_pack=$(python3 -c "print($t1-$t0)")
mkdir "$work/out-ours" "$work/out-theirs"
t0=$(now); out=$(wine "$exe" unpack "$(win "$work/ours.zip")" "$(win "$work/out-ours")"); t1=$(now)
q_unpack=$(echo "$out" | tr -d "\r" | awk "/^unpack/ {print \$2}"); q_unpack_wall=$(python3 -c "print($t1-$t0)")
t0=$(now); unzip -q "$work/theirs.zip" -d "$work/out-theirs"; t1=$(now)
z_unpack=$(python3 -c "print($t1-$t0)")

unzip -tq "$work/ours.zip" >/dev/null && echo "unzip -t on the qxcpr32 archive: OK"
diff -r "$work/data" "$work/out-ours/data" >/dev/null && echo "qxcpr32 round trip: identical"
echo "input: $((bytes / 1000000)) MB; archives: qxcpr32 $(( $(stat -c %s "$work/ours.zip") / 1000000 )) MB," \
     "zip -6 $(( $(stat -c %s "$work/theirs.zip") / 1000000 )) MB"
report_pack "$work/ours.zip" "$work/base.zip"
printf "%-28s %8.2f s %s\n" "  same, with Wine start" "$q_pack_wall" "$(rate "$q_pack_wall")"
printf "%-28s %8.2f s %s\n" "zip -6" "$z_pack" "$(rate "$z_pack")"
printf "%-28s %8.2f s %s\n" "qxcpr32 unzip" "$q_unpack" "$(rate "$q_unpack")"
printf "%-28s %8.2f s %s\n" "  same, with Wine start" "$q_unpack_wall" "$(rate "$q_unpack_wall")"
printf "%-28s %8.2f s %s\n" "unzip" "$z_unpack" "$(rate "$z_unpack")"

# Many small files in many folders.
python3 - "$work/small" <<'PY'
import os, random, sys
rnd = random.Random(2)
words = [("".join(rnd.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 10)))).encode()
         for _ in range(3000)]
for i in range(3000):
    folder = os.path.join(sys.argv[1], "d%02d" % (i % 40))
    os.makedirs(folder, exist_ok=True)
    out = bytearray()
    size = rnd.randint(300, 12000)
    while len(out) < size:
        out += b" ".join(rnd.choice(words) for _ in range(10)) + b"\r\n"
    with open(os.path.join(folder, "f%04d.txt" % i), "wb") as f:
        f.write(bytes(out[:size]))
PY
bytes=$(du -sb --apparent-size "$work/small" | cut -f1)
packs=""; deflates=""; base_packs=""
for run in $(seq 1 "$runs"); do
  packs="$packs $(pack_seconds "$exe" "$work/small.zip" "$work/small")"
  deflates="$deflates $(deflate_seconds "$work/small")"
  [ -z "$base_exe" ] || base_packs="$base_packs $(pack_seconds "$base_exe" "$work/small-base.zip" "$work/small")"
done
# shellcheck disable=SC2086
q_pack=$(median $packs); raw_deflate=$(median $deflates)
echo "many small files: 3000 files in 40 folders, $((bytes / 1000)) KB"
report_pack "$work/small.zip" "$work/small-base.zip"
