#!/usr/bin/env bash
# The tool's main job on a sample file, from the command line of the transfer
# program, in a private Wine prefix and a virtual display. As root on a fresh
# Debian 12 it first installs what is missing and builds.
#
# Alice signs, verifies, encrypts and decrypts a sample and packs a digital
# envelope for Bob; Bob, in a prefix of his own that holds his key and
# Alice's certificate, unpacks it. Then Alice registers the context-menu
# handler (tvcryptc.dll) and packs a second envelope for Bob through its menu,
# by tvhost, which plays the Explorer (Wine's own never loads such handlers);
# Bob unpacks that one too. Every round trip must give the original bytes
# back. The questions of the jobs (the signature information) are answered by
# tvdrive, which prints them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
export BUILD_DIR=$build

bash "$root/scripts/install-deps.sh"
echo "== Building into $build"
bash "$root/scripts/build.sh"

. "$root/scripts/wine-env.sh"
trap wine_env_stop EXIT
# wine_env_stop ends the display that wine_env_start made; the next start
# must then make a new one rather than use the ended one.
outer_display=${DISPLAY:-}
end_prefix() {
  wine_env_stop
  if [ -n "$outer_display" ]; then export DISPLAY=$outer_display; else unset DISPLAY; fi
}

demo=$build/demo
rm -rf "$demo"
mkdir -p "$demo/alice" "$demo/bob"
certs=$demo/certs
tvcrypte=$build/bin/tvcrypte.exe
tvdrive=$build/tools/tvdrive.exe
tvhost=$build/tools/tvhost.exe
failed=0

# Runs tvcrypte with the arguments in the current folder, answering its dialogs.
tvcrypte() {
  echo "\$ tvcrypte $*"
  wine "$tvdrive" --timeout 120 -- "$tvcrypte" "$@" </dev/null
}

# The switches for a quiet run: keep the originals, no zipping, no mail.
quiet_settings() {
  for setting in "zipfile No" "unzipfile No" "loeschequelldatei No" "smeviaemail No"; do
    # shellcheck disable=SC2086
    wine "$build/tools/tvprep.exe" set $setting </dev/null
  done
}

show() {  # file
  if [ -f "$1" ]; then
    printf '   %-22s %7d bytes  %s\n' "$(basename "$1")" "$(stat -c %s "$1")" \
      "$(head -c 16 "$1" | od -An -tx1 | tr -s ' ' | sed 's/^ //')"
  else
    echo "   $(basename "$1") is missing"
    failed=1
  fi
}

same() {  # label file
  if cmp -s "$2" "$demo/original.txt"; then
    echo "   OK: $1 gives the original bytes back"
  else
    echo "   FAILED: $1 does not give the original bytes back"
    failed=1
  fi
}

{
  echo "Tarvisto sample report"
  date -u
  head -c 4096 /dev/urandom | base64
} >"$demo/original.txt"

echo "== Alice's prefix"
wine_env_start "$demo/alice-prefix"
bash "$root/scripts/prepare-prefix.sh" "Alice Demo" "Bob Demo" "$certs"
quiet_settings
echo "   .sgn/.crp/.sme open with: $(wine reg query 'HKCR\Tarvisto\shell\open\command' /ve \
  </dev/null 2>/dev/null | tr -d '\r' | awk -F'REG_SZ' 'NF>1{gsub(/^ +/,"",$2); print $2}')"

cd "$demo/alice"
cp "$demo/original.txt" report.txt

echo "== Sign"
tvcrypte report.txt /SGN
show report.txt.sgn
if openssl cms -verify -inform DER -noverify -in report.txt.sgn -out "$demo/openssl-content" \
     2>/dev/null; then
  same "openssl's reading of the signed message" "$demo/openssl-content"
fi

echo "== Verify (as a double-click on report.txt.sgn would)"
rm report.txt
tvcrypte report.txt.sgn
show report.txt
same "sign and verify" report.txt

echo "== Encrypt"
tvcrypte report.txt /CRP
show report.txt.crp
echo "== Decrypt"
rm report.txt
tvcrypte report.txt.crp
show report.txt
same "encrypt and decrypt" report.txt

echo "== Pack a digital envelope for Bob"
rm -f report.txt.crp  # the intermediate of the envelope takes this name
tvcrypte report.txt /SME "\"Bob Demo\""
show report.txt.sme
cp report.txt.sme "$demo/bob/"

echo "== Register the context-menu handler"
echo "\$ regsvr32 /s tvcryptc.dll"
# As a Windows path: with a Unix one, Wine's regsvr32 does not find the
# library's own imports beside it (qxcpr32.dll) and fails with code 3.
wine regsvr32 /s "$(winepath -w "$build/bin/tvcryptc.dll")" </dev/null
echo "== Pack a digital envelope for Bob through the context menu (tvhost plays the Explorer)"
# The first recipient of the menu, Bob, has the command offset 7.
rm -f report.txt.sme report.txt.crp
echo "\$ tvhost --invoke 7 report.txt"
wine "$tvdrive" --timeout 120 -- "$tvhost" --invoke 7 report.txt </dev/null | tr -d '\r' |
  tee "$demo/menu.log" | sed 's/^/   /'
if ! grep -q '^ *item pos=[0-9]* kind=string id=1007 bitmap=no text=Bob Demo$' "$demo/menu.log"; then
  echo "   FAILED: the menu does not offer Bob at offset 7"
  failed=1
fi
show report.txt.sme
mkdir -p "$demo/bob/menu"
cp report.txt.sme "$demo/bob/menu/"
end_prefix

echo "== Bob's prefix: unpack the envelope"
wine_env_start "$demo/bob-prefix"
bash "$root/scripts/prepare-prefix.sh" "Bob Demo" "Alice Demo" "$certs"
quiet_settings
cd "$demo/bob"
tvcrypte report.txt.sme
show report.txt
same "the envelope unpacked by Bob" report.txt
echo "== Bob's prefix: unpack the envelope packed through the context menu"
cd "$demo/bob/menu"
tvcrypte report.txt.sme
show report.txt
same "the envelope packed through the context menu and unpacked by Bob" report.txt
end_prefix

if [ "$failed" -ne 0 ]; then
  echo "== The demo FAILED"
  exit 1
fi
echo "== All round trips gave the original bytes back"
