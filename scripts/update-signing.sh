#!/usr/bin/env bash
# Update-description signing with openssl.
#   scripts/update-signing.sh keygen DIR
#       makes DIR/update-signing.pem (the private key: keep it off the build machines) and
#       DIR/update-signing.blob (its public half as a CryptoAPI PUBLICKEYBLOB), to build with
#       -DREFRESHER_PUBLIC_KEY=DIR/update-signing.blob
#   scripts/update-signing.sh sign KEY.pem update.txt
#       writes update.txt.sig beside it: RSA PKCS#1 v1.5 over SHA-256 of the file's exact bytes, in
#       the little-endian order that CryptVerifySignature expects (openssl writes big-endian).
set -euo pipefail

die() { echo "update-signing: $*" >&2; exit 1; }
command -v openssl >/dev/null || die "openssl is needed"
command -v python3 >/dev/null || die "python3 is needed"

case "${1:-}" in
  keygen)
    dir=${2:?usage: keygen DIR}
    mkdir -p "$dir"
    [ -e "$dir/update-signing.pem" ] && die "$dir/update-signing.pem exists: not overwritten"
    (umask 077; openssl genrsa -out "$dir/update-signing.pem" 3072 2>/dev/null)
    modulus=$(openssl rsa -in "$dir/update-signing.pem" -noout -modulus | sed 's/^Modulus=//')
    exponent=$(openssl rsa -in "$dir/update-signing.pem" -noout -text 2>/dev/null |
               sed -n 's/^publicExponent: \([0-9]*\).*/\1/p')
    python3 - "$modulus" "$exponent" "$dir/update-signing.blob" <<'PY'
import struct, sys
modulus = bytes.fromhex(sys.argv[1])
exponent = int(sys.argv[2])
bits = len(modulus) * 8
# BLOBHEADER: PUBLICKEYBLOB (6), version 2, reserved, CALG_RSA_SIGN (0x2400);
# RSAPUBKEY: "RSA1", bit length, public exponent; then the modulus little-endian.
blob = struct.pack("<BBHI", 6, 2, 0, 0x2400) + struct.pack("<4sII", b"RSA1", bits, exponent) + modulus[::-1]
open(sys.argv[3], "wb").write(blob)
PY
    echo "update-signing: key in $dir/update-signing.pem, public key blob in $dir/update-signing.blob"
    ;;
  sign)
    key=${2:?usage: sign KEY.pem update.txt}
    file=${3:?usage: sign KEY.pem update.txt}
    [ -f "$file" ] || die "$file: no such file"
    tmp=$(mktemp)
    trap 'rm -f "$tmp"' EXIT
    openssl dgst -sha256 -sign "$key" -out "$tmp" "$file"
    python3 - "$tmp" "$file.sig" <<'PY'
import sys
open(sys.argv[2], "wb").write(open(sys.argv[1], "rb").read()[::-1])
PY
    echo "update-signing: wrote $file.sig"
    ;;
  *)
    die "usage: $0 keygen DIR | sign KEY.pem update.txt"
    ;;
esac
