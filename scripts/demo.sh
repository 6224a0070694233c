#!/usr/bin/env bash
# The tool's main job on a sample file, from the command line of the transfer
# program, in a private Wine prefix and a virtual display. As root on a fresh
# Debian 12 it first installs what is missing and builds.
#
# Each person is set up by the settings program's first run in a fresh
# prefix (scripts/wine/prepare-prefix.sh): it imports the own PKCS#12 file through
# its dialog, and the welcome answered Yes writes the settings, the own
# certificate and the shell rows. Alice signs, verifies (by the shell's
# "open", as a double-click does), encrypts and decrypts a sample and packs a
# digital envelope for Bob; Bob, in a prefix of his own that holds his key and
# Alice's certificate, unpacks it. Then Alice packs a second envelope for Bob
# through the context-menu handler (tvcryptc.dll), which tvhost finds through
# the rows the settings program wrote alone (it plays the Explorer: Wine's own
# never loads such handlers); Bob unpacks that one too. Every round trip must
# give the original bytes back. The questions of the jobs (the signature
# information) are answered by tvdrive, which prints them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
export BUILD_DIR=$build

bash "$root/scripts/tools/install-deps.sh"
echo "== Building into $build"
bash "$root/scripts/build.sh"

. "$root/scripts/wine/wine-env.sh"
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

# The values the settings program wrote, as `wine reg query` shows them.
registry_value() {  # key [value]: the data, or "(missing)"
  local args=(/ve)
  [ $# -gt 1 ] && args=(/v "$2")
  local data
  data=$(wine reg query "$1" "${args[@]}" </dev/null 2>/dev/null | tr -d '\r' |
    awk -F'REG_SZ' 'NF>1{sub(/^ +/,"",$2); print $2; exit}')
  echo "${data:-(missing)}"
}
show_registration() {
  local g="{fb3b1886-f342-484a-93c8-186391036e0e}" user
  user=$(wine "$build/tools/tvprep.exe" user </dev/null | tr -d '\r')
  echo "   What the first run wrote:"
  for key in 'HKCR\*\shellex\ContextMenuHandlers\Tarvisto' \
             'HKCR\Directory\shellex\ContextMenuHandlers\Tarvisto' \
             'HKCR\Drive\shellex\ContextMenuHandlers\Tarvisto' "HKCR\CLSID\\$g" \
             "HKCR\CLSID\\$g\InprocServer32"; do
    printf '   %-60s %s\n' "$key" "$(registry_value "$key")"
  done
  printf '   %-60s %s\n' "HKCR\CLSID\\$g\InprocServer32 ThreadingModel" \
    "$(registry_value "HKCR\CLSID\\$g\InprocServer32" ThreadingModel)"
  for key in 'HKCR\Tarvisto\shell\open\command' 'HKCR\Tarvisto\DefaultIcon' 'HKCR\Tarvisto' \
             'HKCR\.sgn' 'HKCR\.crp' 'HKCR\.sme'; do
    printf '   %-60s %s\n' "$key" "$(registry_value "$key")"
  done
  for value in ownstore pubstore firsttime; do
    printf '   %-60s %s\n' "HKCU\software\Quorvex\Tarvisto $value" \
      "$(registry_value 'HKCU\software\Quorvex\Tarvisto' "$value")"
  done
  printf '   %-60s %s\n' "HKCU\software\Quorvex\Own Certificates $user" \
    "$(registry_value 'HKCU\software\Quorvex\Own Certificates' "$user")"
  if [ "$(registry_value "HKCR\CLSID\\$g\InprocServer32")" != \
       "$(winepath -w "$build/bin/tvcryptc.dll")" ]; then
    echo "   FAILED: the extension is not registered beside the settings program"
    failed=1
  fi
}

echo "== Alice's prefix: the settings program's first run"
wine_env_start "$demo/alice-prefix"
if ! bash "$root/scripts/wine/prepare-prefix.sh" "Alice Demo" "Bob Demo" "$certs"; then
  echo "   FAILED: the first run did not end with 0"
  failed=1
fi
show_registration
quiet_settings

cd "$demo/alice"
cp "$demo/original.txt" report.txt

echo "== Sign"
tvcrypte report.txt /SGN
show report.txt.sgn
if openssl cms -verify -inform DER -noverify -in report.txt.sgn -out "$demo/openssl-content" \
     2>/dev/null; then
  same "openssl's reading of the signed message" "$demo/openssl-content"
fi

echo "== Verify: the shell's \"open\" of report.txt.sgn, as a double-click does"
rm report.txt
echo "\$ open report.txt.sgn"
wine "$tvdrive" --timeout 120 --shell-open -- report.txt.sgn </dev/null
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

echo "== Pack a digital envelope for Bob through the context menu (tvhost plays the Explorer)"
# tvhost finds the handler through the rows of the settings program alone.
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

echo "== Bob's prefix: the settings program's first run, then unpack the envelope"
wine_env_start "$demo/bob-prefix"
if ! bash "$root/scripts/wine/prepare-prefix.sh" "Bob Demo" "Alice Demo" "$certs"; then
  echo "   FAILED: the first run did not end with 0"
  failed=1
fi
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
