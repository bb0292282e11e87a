#!/usr/bin/env bash
# Checks a signed distribution zip with osslsigncode, as a user's IT
# department would check the module before letting it run.
# Usage: check_signature.sh ZIP SIGNER_CERT UNSIGNED_DLL   (run by `make test-signing`)
#
#  - the Velumo.dll in ZIP verifies against SIGNER_CERT (self-signed, so it is
#    its own root), and the zip's SHA256SUMS.txt lists that signed DLL;
#  - it is UNSIGNED_DLL plus a signature, not the same bytes;
#  - osslsigncode rejects UNSIGNED_DLL, a copy of the signed DLL with one byte
#    of its code changed, and the DLL signed by another certificate: so the
#    verification above could have failed.
set -uo pipefail
zip=${1:?usage: check_signature.sh ZIP SIGNER_CERT UNSIGNED_DLL}
cert=${2:?usage: check_signature.sh ZIP SIGNER_CERT UNSIGNED_DLL}
unsigned=${3:?usage: check_signature.sh ZIP SIGNER_CERT UNSIGNED_DLL}
work=$(dirname "$zip")/check
rm -rf "$work" && mkdir -p "$work/unpacked"
passed=0
failed=0

pass() { passed=$((passed + 1)); echo "signing: $1"; }
fail() { failed=$((failed + 1)); echo "FAIL signing: $1"; }

verify() {  # verify DLL CA LOG: osslsigncode's verdict
  osslsigncode verify -in "$1" -CAfile "$2" >"$3" 2>&1
}

unzip -q "$zip" -d "$work/unpacked" || { echo "signing: cannot unpack $zip"; exit 1; }
signed=$(find "$work/unpacked" -name Velumo.dll -type f)
if [ "$(printf '%s\n' "$signed" | grep -c .)" != 1 ]; then
  echo "FAIL signing: expected one Velumo.dll in $zip, found: ${signed:-none}"
  exit 1
fi

if verify "$signed" "$cert" "$work/signed.log"; then
  pass "the DLL in the zip verifies against $(basename "$cert")"
else
  cat "$work/signed.log"
  fail "the DLL in the zip does not verify (log: $work/signed.log)"
fi

if (cd "$(dirname "$signed")" && sha256sum --quiet -c SHA256SUMS.txt); then
  pass "SHA256SUMS.txt in the zip lists the signed DLL"
else
  fail "SHA256SUMS.txt in the zip does not match its files"
fi

if cmp -s "$signed" "$unsigned"; then
  fail "the DLL in the zip is the unsigned module"
else
  pass "the DLL in the zip is not the unsigned module"
fi

if verify "$unsigned" "$cert" "$work/unsigned.log"; then
  fail "the unsigned module verifies (log: $work/unsigned.log)"
else
  pass "the unsigned module is rejected"
fi

# One byte in the middle of the code section, which the signature covers.
tampered=$work/tampered.dll
/usr/bin/python3 - "$signed" "$tampered" <<'EOF'
import sys
import pefile
pe = pefile.PE(sys.argv[1])
text = next(s for s in pe.sections if s.Name.rstrip(b"\0") == b".text")
data = bytearray(pe.__data__)
data[text.PointerToRawData + text.SizeOfRawData // 2] ^= 0x01
open(sys.argv[2], "wb").write(data)
EOF
if verify "$tampered" "$cert" "$work/tampered.log"; then
  fail "a copy with one byte of code changed verifies (log: $work/tampered.log)"
elif grep -q MISMATCH "$work/tampered.log"; then
  pass "a copy with one byte of code changed is rejected: its digest does not match"
else
  cat "$work/tampered.log"
  fail "a changed copy is rejected, but not for its digest (log: $work/tampered.log)"
fi

# The same module signed by someone else: sound, but not trusted.
openssl req -x509 -newkey rsa:3072 -nodes -sha256 -days 2 -subj "/CN=Someone else" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$work/other-key.pem" -out "$work/other-cert.pem" 2>/dev/null
osslsigncode sign -certs "$work/other-cert.pem" -key "$work/other-key.pem" -h sha256 \
  -in "$unsigned" -out "$work/other.dll" >/dev/null
if ! verify "$work/other.dll" "$work/other-cert.pem" "$work/other-own.log"; then
  fail "the module signed by another certificate does not even verify against that one"
elif verify "$work/other.dll" "$cert" "$work/other.log"; then
  fail "the module signed by another certificate verifies against $(basename "$cert")"
else
  pass "the module signed by another certificate is rejected"
fi

echo "signing: $passed passed, $failed failed"
[ "$failed" = 0 ]
