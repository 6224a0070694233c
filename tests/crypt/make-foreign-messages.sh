#!/usr/bin/env bash
# Makes messages as another program writes them, for "Carol Interop" (the
# identity of make-test-pkcs12.sh, made first into the same folder), into
# CERT_DIR/foreign: NAME.crp or NAME.sgn beside NAME.content, what it must
# open to. Streamed messages use indefinite lengths and strings in pieces.
set -euo pipefail
certs=$(cd "${1:?usage: make-foreign-messages.sh CERT_DIR}" && pwd)
out=$certs/foreign
rm -rf "$out"
mkdir -p "$out"
cd "$out"
legacy=(-provider legacy -provider default)
recipient=$certs/carol.crt.pem
signer=(-signer "$certs/carol.crt.pem" -inkey "$certs/carol.key.pem")

# Contents: many pieces when streamed, one piece, nothing.
head -c 100000 /dev/urandom >many
printf 'abcd' >four
: >none

encrypt() {  # name content cipher [options]
  local name=$1 content=$2 cipher=$3
  shift 3
  openssl cms -encrypt "${legacy[@]}" "-$cipher" "$@" -binary -outform DER \
      -in "$content" -out "$name.crp" "$recipient"
  cp "$content" "$name.content"
}
sign() {  # name content [options]
  local name=$1 content=$2
  shift 2
  openssl cms -sign "${signer[@]}" -nodetach -binary -outform DER "$@" \
      -in "$content" -out "$name.sgn"
  cp "$content" "$name.content"
}

encrypt des3 many des3
encrypt des many des
encrypt rc2 many rc2
encrypt rc2-40 many rc2-40-cbc
encrypt aes128 many aes128
encrypt aes192 four aes192
encrypt aes256 many aes256
encrypt rc4 many rc4
encrypt des3-stream many des3 -stream
encrypt rc4-stream many rc4 -stream
encrypt aes256-stream-four four aes256 -stream
encrypt des3-stream-four four des3 -stream
encrypt aes128-keyid four aes128 -keyid
encrypt aes256-nothing none aes256

sign sign-stream many -stream
sign sign-sha256 many -md sha256
sign sign-sha1 many -md sha1
sign sign-stream-four four -stream
rm -f many four none
