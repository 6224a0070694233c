#!/usr/bin/env bash
# Sets a person up in the current Wine prefix as a new user would: the other
# person's certificate (no key) is put into "My" (what the user's own system
# tools would do), then the settings program's first run imports the own
# PKCS#12 file through its dialog and the welcome is answered Yes. That run
# writes the settings key, the own certificate under the user's name and the
# shell rows of the Explorer extension and the file types.
#
# usage: prepare-prefix.sh OWN_NAME OTHER_NAME CERT_DIR
#   WINEPREFIX must be set and its wineserver running (wine_env_start).
#   BUILD_DIR (default build) names the build; the install folder is its bin.
# The identities are made in CERT_DIR when missing ("<first name>.p12",
# password "sample", and "<first name>.crt.pem"); keys are never committed.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
. "$root/scripts/tools/rsa-key.sh"
own=${1:?usage: prepare-prefix.sh OWN_NAME OTHER_NAME CERT_DIR}
other=${2:?usage: prepare-prefix.sh OWN_NAME OTHER_NAME CERT_DIR}
certs=${3:?usage: prepare-prefix.sh OWN_NAME OTHER_NAME CERT_DIR}
: "${WINEPREFIX:?WINEPREFIX must be set (wine_env_start)}"

tvprep="$build/tools/tvprep.exe"
tvdrive="$build/tools/tvdrive.exe"
for tool in "$tvprep" "$tvdrive" "$build/bin/tvsetup.exe"; do
  [ -f "$tool" ] || { echo "prepare-prefix: $tool is missing (build first)" >&2; exit 1; }
done

# One identity: an RSA key and a version 3 certificate, as PEM and PKCS#12.
make_identity() {  # name
  local base; base=$(echo "$1" | awk '{print tolower($1)}')
  if [ ! -f "$certs/$base.p12" ]; then
    mkdir -p "$certs"
    new_rsa_key "$certs/$base.key.pem"
    openssl req -x509 -new -key "$certs/$base.key.pem" -days 3650 -sha256 -subj "/CN=$1" \
        -addext "keyUsage=digitalSignature,keyEncipherment,dataEncipherment" \
        -out "$certs/$base.crt.pem" 2>/dev/null
    openssl pkcs12 -export -inkey "$certs/$base.key.pem" -in "$certs/$base.crt.pem" \
        -name "$1" -passout pass:sample -out "$certs/$base.p12"
  fi
  echo "$base"
}

own_base=$(make_identity "$own")
other_base=$(make_identity "$other")

wine "$tvprep" importcert "$(winepath -w "$certs/$other_base.crt.pem")" My </dev/null
echo "\$ tvsetup   (first run: import $own_base.p12 through its dialog, answer the welcome)"
wine "$tvdrive" --timeout 120 --open "$(winepath -w "$certs/$own_base.p12")" \
  --password sample --question yes -- "$(winepath -w "$build/bin/tvsetup.exe")" </dev/null
