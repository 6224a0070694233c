#!/usr/bin/env bash
# Makes the openssl-side test identities into OUT_DIR: version 3 certificates
# with their keys as PEM and as PKCS#12 files (password "test"), one in the
# modern (AES) and one in the legacy (3DES/RC2) encryption. Never committed.
set -euo pipefail
out=${1:?usage: make-test-pkcs12.sh OUT_DIR}
. "$(cd "$(dirname "$0")/../../scripts/tools" && pwd)/rsa-key.sh"
mkdir -p "$out"
cd "$out"

make_identity() {  # name file
  new_rsa_key "$2.key.pem"
  openssl req -x509 -new -key "$2.key.pem" -days 3650 -sha256 \
      -subj "/CN=$1" -out "$2.crt.pem" \
      -addext "keyUsage=digitalSignature,keyEncipherment,dataEncipherment" \
      2>/dev/null
}

make_identity "Carol Interop" carol
make_identity "Dave Legacy" dave

openssl pkcs12 -export -inkey carol.key.pem -in carol.crt.pem -name "Carol Interop" \
    -passout pass:test -out carol-modern.p12
openssl pkcs12 -export -legacy -inkey dave.key.pem -in dave.crt.pem -name "Dave Legacy" \
    -passout pass:test -out dave-legacy.p12 2>/dev/null ||
openssl pkcs12 -export -provider legacy -provider default \
    -certpbe PBE-SHA1-3DES -keypbe PBE-SHA1-3DES -macalg sha1 \
    -inkey dave.key.pem -in dave.crt.pem -name "Dave Legacy" \
    -passout pass:test -out dave-legacy.p12

# A signed message whose content is empty, as other programs write one.
openssl cms -sign -binary -nodetach -md md5 -signer carol.crt.pem -inkey carol.key.pem \
    -in /dev/null -outform DER -out carol-empty.sgn
