#!/usr/bin/env bash
# Zip and unzip throughput of qxcpr32 (through the zip class, under Wine)
# beside the host's `zip -6` and `unzip`, on the same ~100 MB of generated
# mixed files. Usage: BUILD_DIR=... bash scripts/bench-zip.sh [MB]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
mb=${1:-100}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" >/dev/null
fi
cmake --build "$build" --target zip_bench >/dev/null
exe="$build/tests-bin/zip_bench.exe"

work=$(mktemp -d /tmp/benchzip.XXXXXX)
. "$root/scripts/wine-env.sh"
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

t0=$(now); out=$(wine "$exe" pack "$(win "$work/ours.zip")" "$(win "$work")" 6 "$(win "$work/data")"); t1=$(now)
q_pack=$(echo "$out" | tr -d "\r" | awk "/^pack/ {print \$2}"); q_pack_wall=$(python3 -c "print($t1-$t0)")
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
printf "%-28s %8.2f s %s\n" "qxcpr32 zip (level 6)" "$q_pack" "$(rate "$q_pack")"
printf "%-28s %8.2f s %s\n" "  same, with Wine start" "$q_pack_wall" "$(rate "$q_pack_wall")"
printf "%-28s %8.2f s %s\n" "zip -6" "$z_pack" "$(rate "$z_pack")"
printf "%-28s %8.2f s %s\n" "qxcpr32 unzip" "$q_unpack" "$(rate "$q_unpack")"
printf "%-28s %8.2f s %s\n" "  same, with Wine start" "$q_unpack_wall" "$(rate "$q_unpack_wall")"
printf "%-28s %8.2f s %s\n" "unzip" "$z_unpack" "$(rate "$z_unpack")"
