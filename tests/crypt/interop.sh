#!/usr/bin/env bash
# Our messages against openssl's, both ways:
#   ".sgn" we make verifies with openssl cms -verify and yields the input;
#   ".crp" we make decrypts with openssl cms -decrypt and the recipient's key;
#   ".sme" we make verifies with openssl and its content decrypts with openssl;
#   a message openssl signs (MD5, attached, no attributes) verifies with ours;
#   a message openssl encrypts with RC4 for our certificate decrypts with ours.
# usage: interop.sh PEER_EXE CERT_DIR   (run under the test run's Wine prefix)
set -euo pipefail
peer=${1:?peer exe}
certs=${2:?cert dir}
work=$(mktemp -d "$(pwd)/interop.XXXXXX")
trap 'rm -rf "$work"' EXIT

winpath() { local p; p=$(cd "$(dirname "$1")" && pwd)/$(basename "$1"); echo "Z:${p//\//\\}"; }
legacy=(-provider legacy -provider default)
fail=0
check() {  # what expected actual
  if cmp -s "$2" "$3"; then echo "ok: $1"; else echo "FAILED: $1"; fail=1; fi
}

# Inputs: one byte and a little over 2,000,000 bytes.
printf 'x' >"$work/data-1"
head -c 2000001 /dev/urandom >"$work/data-2"

for n in 1 2; do
  openssl cms -sign -md md5 -nodetach -binary -noattr -outform DER \
      -signer "$certs/carol.crt.pem" -inkey "$certs/carol.key.pem" \
      -in "$work/data-$n" -out "$work/ossl-$n.sgn"
  openssl cms -encrypt "${legacy[@]}" -rc4 -binary -outform DER \
      -in "$work/data-$n" -out "$work/ossl-$n.crp" "$certs/carol.crt.pem"
done

if ! wine "$peer" exchange "$(winpath "$certs")" "$(winpath "$work")"; then
  echo "FAILED: the Windows side"
  fail=1
fi

for n in 1 2; do
  d="$work/data-$n"
  openssl cms -verify -inform DER -noverify -binary -in "$d.sgn" -out "$d.v" 2>/dev/null || true
  check "openssl verifies our .sgn ($n)" "$d" "$d.v"
  openssl cms -decrypt "${legacy[@]}" -inform DER -binary -in "$d.crp" \
      -recip "$certs/carol.crt.pem" -inkey "$certs/carol.key.pem" -out "$d.d" 2>/dev/null || true
  check "openssl decrypts our .crp ($n)" "$d" "$d.d"
  openssl cms -verify -inform DER -noverify -binary -in "$d.sme" -out "$d.inner" 2>/dev/null || true
  openssl cms -decrypt "${legacy[@]}" -inform DER -binary -in "$d.inner" \
      -recip "$certs/carol.crt.pem" -inkey "$certs/carol.key.pem" -out "$d.u" 2>/dev/null || true
  check "openssl unpacks our .sme ($n)" "$d" "$d.u"
  check "we verify openssl's signed message ($n)" "$d" "$work/ossl-$n.sgn.out"
  check "we decrypt openssl's RC4 message ($n)" "$d" "$work/ossl-$n.crp.out"
done

# The format of our messages, as openssl reads it.
expect() {  # what text pattern [count]
  local n; n=$(grep -c -- "$3" <<<"$2" || true)
  if [ "$n" -eq "${4:-1}" ]; then echo "ok: $1"; else echo "FAILED: $1 ($n)"; fail=1; fi
}
d="$work/data-1"
sgn=$(openssl cms -cmsout -print -inform DER -in "$d.sgn" | grep -v '^ *[0-9a-f]\{4\} - ')
expect ".sgn is signed data" "$sgn" "contentType: pkcs7-signedData"
expect ".sgn carries data, attached" "$sgn" "eContentType: pkcs7-data"
expect ".sgn content present" "$sgn" "eContent: *$"
expect ".sgn digest MD5 (set and signer)" "$sgn" "algorithm: md5 (1.2.840.113549.2.5)" 2
expect ".sgn one certificate" "$sgn" "d.certificate:"
expect ".sgn one signer" "$sgn" "d.issuerAndSerialNumber:"
expect ".sgn no CRLs, no attributes" "$(grep -A1 -E 'crls:|signedAttrs:|unsignedAttrs:' <<<"$sgn")" "<ABSENT>" 3
crp=$(openssl cms -cmsout -print -inform DER -in "$d.crp" | grep -v '^ *[0-9a-f]\{4\} - ')
expect ".crp is enveloped data" "$crp" "contentType: pkcs7-envelopedData"
expect ".crp one recipient" "$crp" "d.ktri:"
expect ".crp RC4 without parameters" "$(grep -A1 'algorithm: rc4' <<<"$crp")" "parameter: <ABSENT>"
sme=$(openssl cms -cmsout -print -inform DER -in "$d.sme" | grep -v '^ *[0-9a-f]\{4\} - ')
expect ".sme is signed data of data" "$sme" "eContentType: pkcs7-data"

# The RC4 key length: the recipient's encrypted key, opened with its RSA key.
read -r ek_at ek_hl ek_len < <(openssl asn1parse -inform DER -in "$d.crp" |
  awk -F'[:=]' '/OCTET STRING/ && /l= *256 prim/ {gsub(/ /,""); print $1, $4+0, $5+0; exit}')
if [ -n "${ek_at:-}" ]; then
  dd if="$d.crp" of="$work/ek" bs=1 skip=$((ek_at + ek_hl)) count="$ek_len" status=none
  openssl pkeyutl -decrypt -inkey "$certs/carol.key.pem" -in "$work/ek" -out "$work/cek" &&
    echo "RC4 key length of our .crp: $(( $(stat -c %s "$work/cek") * 8 )) bits"
fi

exit $fail
