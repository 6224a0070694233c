#!/usr/bin/env bash
# Makes the sample certificates that the settings program offers for import
# into OUT_DIR (the folder "Beispielzertifikate" beside the programs): two
# identities as PKCS#12 files with their private keys, password "sample".
# VERSION is the project's version, named in their README.
# Made anew by every clean build; never committed.
set -euo pipefail
out=${1:?usage: make-sample-certificates.sh OUT_DIR VERSION}
version=${2:?usage: make-sample-certificates.sh OUT_DIR VERSION}
. "$(cd "$(dirname "$0")/../scripts/tools" && pwd)/rsa-key.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

make_sample() {  # name file
  new_rsa_key "$work/$2.key.pem"
  openssl req -x509 -new -key "$work/$2.key.pem" -days 3650 -sha256 \
      -subj "/CN=$1/O=Tarvisto Samples" -out "$work/$2.crt.pem" \
      -addext "keyUsage=digitalSignature,keyEncipherment,dataEncipherment" 2>/dev/null
  # The legacy encryption, which every version of Windows imports.
  openssl pkcs12 -export -legacy -inkey "$work/$2.key.pem" -in "$work/$2.crt.pem" -name "$1" \
      -passout pass:sample -out "$out/$2.p12" 2>/dev/null ||
  openssl pkcs12 -export -inkey "$work/$2.key.pem" -in "$work/$2.crt.pem" -name "$1" \
      -passout pass:sample -out "$out/$2.p12"
}

make_sample "Tarvisto Sample Anna" sample-anna
make_sample "Tarvisto Sample Ben" sample-ben
printf '%s\r\n' \
  "Sample certificates of Tarvisto $version, for trying the program out." \
  "Import one as your own certificate with the Import button of the settings program." \
  "The password of both files is: sample" \
  "They were made when this copy was built; never use them for real data." \
  > "$out/README.txt"
