#!/usr/bin/env bash
# Prepares the current Wine prefix the way the settings program does, so that
# the transfer program can do its job there:
#   - the settings key HKCU\software\Quorvex\Tarvisto with the settings
#     program's defaults, the paths of tvstatus.dll and secure.avi in the
#     install folder, "ownstore" and "pubstore";
#   - the own certificate: a sample identity made with openssl, imported with
#     its key into "ownstore" (each key in a container of its own), its subject
#     stored under "Own Certificates" for this user;
#   - a second person's certificate (no key) in "pubstore";
#   - the file types ".sgn", ".crp", ".sme" opening tvcrypte.exe with "%1".
#
# usage: prepare-prefix.sh OWN_NAME OTHER_NAME CERT_DIR
#   WINEPREFIX must be set and its wineserver running (wine_env_start).
#   BUILD_DIR (default build) names the build; the install folder is its bin.
#   OWN_STORE / PUB_STORE (default My / AddressBook) name the stores.
# The identities are made in CERT_DIR when missing ("<first name>.p12",
# password "sample", and "<first name>.crt.pem"); keys are never committed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
. "$root/scripts/rsa-key.sh"
own=${1:?usage: prepare-prefix.sh OWN_NAME OTHER_NAME CERT_DIR}
other=${2:?usage: prepare-prefix.sh OWN_NAME OTHER_NAME CERT_DIR}
certs=${3:?usage: prepare-prefix.sh OWN_NAME OTHER_NAME CERT_DIR}
own_store=${OWN_STORE:-My}
pub_store=${PUB_STORE:-AddressBook}
: "${WINEPREFIX:?WINEPREFIX must be set (wine_env_start)}"

tvprep="$build/tools/tvprep.exe"
[ -f "$tvprep" ] || { echo "prepare-prefix: $tvprep is missing (build first)" >&2; exit 1; }

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

bin_win=$(winepath -w "$build/bin")
run() { wine "$tvprep" "$@" </dev/null; }

run settings "$bin_win" "$own_store" "$pub_store"
run importpfx "$(winepath -w "$certs/$own_base.p12")" sample "$own_store"
run importcert "$(winepath -w "$certs/$other_base.crt.pem")" "$pub_store"
run owncert "$own"
run filetypes "$bin_win"
