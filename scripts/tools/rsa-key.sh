# Sourced: RSA keys for test and sample identities.
#
# Wine's PKCS#12 import misplaces the private parts of an RSA key when one of
# them is encoded in fewer bytes than its nominal length (a value whose top
# byte is below 0x80 after leading zero bytes: roughly one key in a hundred);
# the parts that follow it shift and the imported key signs and decrypts
# wrongly. Windows reads such keys correctly. Keys made here never have such a
# part, so that runs under Wine do not fail by chance.

# wine_safe_rsa_key KEY.pem: true when every private part is encoded in at
# least its nominal length.
wine_safe_rsa_key() {
  openssl rsa -in "$1" -noout -text 2>/dev/null | python3 -c '
import re, sys
text = sys.stdin.read()
full = int(re.search(r"\((\d+) bit", text).group(1)) // 8
fields = dict(re.findall(r"^(\w+):\s*\n((?:\s+[0-9a-f:]+\n?)+)", text, re.M))
def encoded(name):  # bytes of the DER integer, its sign byte included
    return len(bytes.fromhex(re.sub(r"[^0-9a-f]", "", fields[name])))
ok = encoded("privateExponent") >= full and all(
    encoded(n) >= full // 2
    for n in ("prime1", "prime2", "exponent1", "exponent2", "coefficient"))
sys.exit(0 if ok else 1)'
}

# new_rsa_key KEY.pem: a 2048-bit key that Wine imports correctly.
new_rsa_key() {
  local i
  for i in $(seq 1 100); do
    openssl genrsa -out "$1" 2048 2>/dev/null
    wine_safe_rsa_key "$1" && return 0
  done
  echo "no suitable RSA key after 100 tries" >&2
  return 1
}
