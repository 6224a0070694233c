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
d="$work/data-1"
sgn=$(openssl cms -cmsout -print -inform DER -in "$d.sgn")
grep -q "algorithm: md5" <<<"$sgn" && echo "ok: digest MD5" || { echo "FAILED: digest"; fail=1; }
grep -q "signedAttrs:.*<ABSENT>\|signedAttrs:\s*<EMPTY>" <<<"$sgn" ||
  grep -A1 "signedAttrs:" <<<"$sgn" | grep -q "<ABSENT>\|<EMPTY>" &&
  echo "ok: no signed attributes" || { echo "FAILED: signed attributes"; fail=1; }
[ "$(grep -c 'signerInfos\|sid:' <<<"$sgn")" -ge 1 ] || fail=1
crp=$(openssl cms -cmsout -print -inform DER -in "$d.crp")
grep -q "algorithm: rc4" <<<"$crp" && echo "ok: content encryption RC4" ||
  { echo "FAILED: cipher"; fail=1; }
# The RC4 key length: the recipient's encrypted key, opened with its RSA key.
ek_offset=$(openssl asn1parse -inform DER -in "$d.crp" | awk '/OCTET STRING/ && /l= *256 prim/ {print $1; exit}' | tr -d ':')
if [ -n "$ek_offset" ]; then
  openssl asn1parse -inform DER -in "$d.crp" -strparse "$ek_offset" -noout -out "$work/ek" 2>/dev/null ||
    openssl asn1parse -inform DER -in "$d.crp" -offset "$ek_offset" -noout -out "$work/ek"
  openssl pkeyutl -decrypt -inkey "$certs/carol.key.pem" -in "$work/ek" -out "$work/cek" &&
    echo "RC4 key length of our .crp: $(( $(stat -c %s "$work/cek") * 8 )) bits"
fi

exit $fail
