#!/usr/bin/env bash
# Speed of the message path: on one file of random bytes (60,000,000 by
# default), the data part of each of the four jobs (the whole-file member of
# TQXCrypt that a job runs: read, message calls, write) beside a small bare
# program of ours that reads, makes the one platform call and writes (flushed
# to the disk before it is closed, as the tool writes its outputs), and
# beside openssl cms; the three are interleaved run by run and the medians
# are compared. Then the whole tvcrypte job of each kind, the peak memory, and
# the cost per file of signing a folder of many small files with tvcrypte.
# A benchmark, not a test: nothing here fails on a figure. The cost per file
# rises steeply with the machine's load (each small file costs a flush to the
# disk and many calls to the Wine server; at a load of about 20 it doubles),
# so the load at the start and at the end is printed with the figures: compare
# only figures taken under a like load, best with two builds run in turn.
#
# Usage: BUILD_DIR=... bash scripts/bench-crypt.sh [RUNS] [BYTES]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
runs=${1:-5}
bytes=${2:-60000000}
small_files=200
few_files=20
[ -f "$build/build.ninja" ] || BUILD_DIR=$build bash "$root/scripts/tools/configure.sh"
cmake --build "$build" >/dev/null
bench="$build/tests-bin/crypt_bench.exe"
tvcrypte="$build/bin/tvcrypte.exe"
tvdrive="$build/tools/tvdrive.exe"

load_start=$(cut -d' ' -f1-3 /proc/loadavg)
work=$(mktemp -d /tmp/benchcrypt.XXXXXX)
. "$root/scripts/wine/wine-env.sh"
cleanup() { wine_env_stop; rm -rf "$work"; }
trap cleanup EXIT
rm -rf "$build/bench-crypt-prefix"
wine_env_start "$build/bench-crypt-prefix"
BUILD_DIR=$build bash "$root/scripts/wine/prepare-prefix.sh" "Alice Bench" "Bob Bench" "$work/certs" \
  >/dev/null
for setting in "zipfile No" "unzipfile No" "loeschequelldatei No" "smeviaemail No"; do
  # shellcheck disable=SC2086
  wine "$build/tools/tvprep.exe" set $setting </dev/null >/dev/null
done
crt=$work/certs/alice.crt.pem
key=$work/certs/alice.key.pem

win() { winepath -w "$1" 2>/dev/null; }
now() { date +%s.%N; }
ms_since() { python3 -c "import sys; print('%.0f' % ((float(sys.argv[2]) - float(sys.argv[1])) * 1000))" "$1" "$(now)"; }
median() { python3 -c "import sys, statistics; print('%.0f' % statistics.median(float(x) for x in sys.argv[1:]))" "$@"; }

mkdir -p "$work/d"
head -c "$bytes" /dev/urandom >"$work/d/data.bin"
data=$(win "$work/d/data.bin")
d=$(win "$work/d")

# One run of our driver: prints its milliseconds, keeps its peak in $work/peak-<road>-<job>.
ours_or_bare() {  # road job
  local out
  case $2 in
    sign)    out=$(timeout 600 wine "$bench" "$1" sign My "Alice Bench" "$data" "$d\\$1.sgn" </dev/null) ;;
    verify)  out=$(timeout 600 wine "$bench" "$1" verify "$d\\msg.sgn" "$d\\$1.ver" </dev/null) ;;
    encrypt) out=$(timeout 600 wine "$bench" "$1" encrypt My "Alice Bench" "$data" "$d\\$1.crp" </dev/null) ;;
    decrypt) out=$(timeout 600 wine "$bench" "$1" decrypt My "$d\\msg.crp" "$d\\$1.dec" </dev/null) ;;
  esac
  out=$(echo "$out" | tr -d '\r')
  echo "$out" | awk '{print $5}' >"$work/peak-$1-$2"
  echo "$out" | awk '{print $2}'
}

openssl_job() {  # job
  local t0; t0=$(now)
  case $1 in
    sign)    openssl cms -sign -binary -nodetach -md md5 -noattr -outform DER -signer "$crt" \
               -inkey "$key" -in "$work/d/data.bin" -out "$work/d/openssl.sgn" ;;
    verify)  openssl cms -verify -noverify -binary -inform DER -in "$work/d/msg.sgn" \
               -out "$work/d/openssl.ver" 2>/dev/null ;;
    encrypt) openssl cms -encrypt -binary -rc4 -provider legacy -provider default -outform DER \
               -in "$work/d/data.bin" -out "$work/d/openssl.crp" "$crt" ;;
    decrypt) openssl cms -decrypt -binary -provider legacy -provider default -inform DER \
               -inkey "$key" -recip "$crt" -in "$work/d/msg.crp" -out "$work/d/openssl.dec" ;;
  esac
  ms_since "$t0"
}

# The messages that verify and decrypt read, made once by our own road.
wine "$bench" ours sign My "Alice Bench" "$data" "$d\\msg.sgn" </dev/null >/dev/null
wine "$bench" ours encrypt My "Alice Bench" "$data" "$d\\msg.crp" </dev/null >/dev/null

jobs="sign verify encrypt decrypt"
declare -A times
for run in $(seq 1 "$runs"); do
  for job in $jobs; do
    # The order of the three contenders turns from run to run.
    case $((run % 3)) in
      0) order="ours bare openssl" ;;
      1) order="bare openssl ours" ;;
      2) order="openssl ours bare" ;;
    esac
    for who in $order; do
      if [ "$who" = openssl ]; then t=$(openssl_job "$job"); else t=$(ours_or_bare "$who" "$job"); fi
      times[$who-$job]="${times[$who-$job]:-} $t"
    done
  done
done

cmp -s "$work/d/ours.sgn" "$work/d/bare.sgn" && echo "sign: our message and the bare call's are the same bytes"
cmp -s "$work/d/ours.ver" "$work/d/data.bin" && cmp -s "$work/d/ours.dec" "$work/d/data.bin" &&
  echo "verify, decrypt: the input's bytes come back"
echo "input: $bytes random bytes; medians of $runs runs, ours, bare and openssl interleaved"
printf "%-8s %14s %11s %13s %11s %22s\n" job "tvcrypte data" "bare call" "openssl cms" "data/bare" "peak data/bare (MiB)"
for job in $jobs; do
  # shellcheck disable=SC2086
  o=$(median ${times[ours-$job]}); b=$(median ${times[bare-$job]}); s=$(median ${times[openssl-$job]})
  printf "%-8s %11s ms %8s ms %10s ms %11s %22s\n" "$job" "$o" "$b" "$s" \
    "$(python3 -c "print('%.2f' % ($o / $b))")" \
    "$(cat "$work/peak-ours-$job") / $(cat "$work/peak-bare-$job")"
done

# The whole tvcrypte job (Wine start, windows, the job's own pauses and the
# data part), each kind in a folder of its own so that no question is asked.
tvjob() {  # folder args...
  local folder=$1; shift
  local t0; t0=$(now)
  (cd "$folder" && wine "$tvdrive" --timeout 600 -- "$tvcrypte" "$@" </dev/null >/dev/null) ||
    echo "a tvcrypte run ($*) failed; its time counts all the same" >&2
  ms_since "$t0"
}
mkdir -p "$work/j/sign" "$work/j/verify" "$work/j/encrypt" "$work/j/decrypt"
ln "$work/d/data.bin" "$work/j/sign/data.bin"
ln "$work/d/data.bin" "$work/j/encrypt/data.bin"
declare -A whole
for run in $(seq 1 "$runs"); do
  rm -f "$work/j/sign/data.bin.sgn" "$work/j/encrypt/data.bin.crp"
  rm -f "$work/j/verify/data.bin" "$work/j/decrypt/data.bin"
  cp "$work/d/msg.sgn" "$work/j/verify/data.bin.sgn"
  cp "$work/d/msg.crp" "$work/j/decrypt/data.bin.crp"
  whole[sign]="${whole[sign]:-} $(tvjob "$work/j/sign" data.bin /SGN)"
  whole[verify]="${whole[verify]:-} $(tvjob "$work/j/verify" data.bin.sgn)"
  whole[encrypt]="${whole[encrypt]:-} $(tvjob "$work/j/encrypt" data.bin /CRP)"
  whole[decrypt]="${whole[decrypt]:-} $(tvjob "$work/j/decrypt" data.bin.crp)"
done
cmp -s "$work/j/verify/data.bin" "$work/d/data.bin" && cmp -s "$work/j/decrypt/data.bin" "$work/d/data.bin" &&
  echo "tvcrypte: verify and decrypt give the input's bytes back"
line="whole tvcrypte job (median):"
for job in $jobs; do
  # shellcheck disable=SC2086
  line="$line $job $(median ${whole[$job]}) ms;"
done
echo "${line%;}"
# Peak memory of tvcrypte itself (its resident set, Wine's own part
# included), signing and encrypting; medians of three runs.
for job in sign encrypt; do
  peaks=""
  for run in 1 2 3; do
    rm -f "$work/j/$job/data.bin.sgn" "$work/j/$job/data.bin.crp"
    switch=/SGN; [ "$job" = encrypt ] && switch=/CRP
    peaks="$peaks $(cd "$work/j/$job" && /usr/bin/time -f %M timeout 600 wine "$tvcrypte" data.bin $switch 2>&1 </dev/null >/dev/null | tail -1)"
  done
  # shellcheck disable=SC2086
  echo "tvcrypte $job peak resident set: $(( $(median $peaks) / 1024 )) MiB"
done

# Per file: a folder of many small files against one of few, both signed by
# tvcrypte; the difference of the two jobs divided by the difference of files.
python3 - "$work/many" "$small_files" "$work/few" "$few_files" <<'PY'
import os, sys
for folder, n in ((sys.argv[1], int(sys.argv[2])), (sys.argv[3], int(sys.argv[4]))):
    os.makedirs(folder)
    for i in range(n):
        with open(os.path.join(folder, "f%04d.txt" % i), "wb") as f:
            f.write(os.urandom(1024))
PY
many=""; few=""
for run in $(seq 1 "$runs"); do
  rm -f "$work"/many/*.sgn "$work"/few/*.sgn
  many="$many $(tvjob "$work" many /SGN)"
  few="$few $(tvjob "$work" few /SGN)"
done
[ "$(ls "$work"/many/*.sgn | wc -l)" -eq "$small_files" ] || echo "per file: not every small file was signed!"
# shellcheck disable=SC2086
m=$(median $many); f=$(median $few)
python3 -c "import sys; m, f, n, k = map(float, sys.argv[1:]); print('per file (signing %d files of 1 KB against %d): %.1f ms' % (n, k, (m - f) / (n - k)))" \
  "$m" "$f" "$small_files" "$few_files"
echo "machine load (1, 5 and 15 minute averages): $load_start at the start, $(cut -d' ' -f1-3 /proc/loadavg) at the end"
