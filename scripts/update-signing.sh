#!/usr/bin/env bash
# Update-description signing with openssl.
#   scripts/update-signing.sh keygen DIR
#       makes DIR/update-signing.pem (the private key: keep it off the build machines) and
#       DIR/update-signing.blob (its public half as a CryptoAPI PUBLICKEYBLOB), to build with
#       -DREFRESHER_PUBLIC_KEY=DIR/update-signing.blob
#   scripts/update-signing.sh sign KEY.pem update.txt
#       writes update.txt.sig beside it: RSA PKCS#1 v1.5 over SHA-256 of the file's exact bytes, in
#       the little-endian order that CryptVerifySignature expects (openssl writes big-endian).
#   scripts/update-signing.sh release KEY.pem FOLDER VERSION BASE_URL TITLE [LINE...]
#       publishes the files of FOLDER as version VERSION: writes FOLDER/update.txt (UTF-8) with every
#       key the updater reads (the version, one FILE%d URL under BASE_URL per file with its SHA-256
#       and its size, the change log: TITLE and the LINEs) and signs it into FOLDER/update.txt.sig.
#       Upload the whole folder to BASE_URL; update.txt must be reachable where the updater looks.
set -euo pipefail

die() { echo "update-signing: $*" >&2; exit 1; }
command -v openssl >/dev/null || die "openssl is needed"
command -v python3 >/dev/null || die "python3 is needed"

sign_file() {
  local key=$1 file=$2 tmp
  [ -f "$file" ] || die "$file: no such file"
  tmp=$(mktemp)
  openssl dgst -sha256 -sign "$key" -out "$tmp" "$file" || { rm -f "$tmp"; die "signing $file failed"; }
  python3 - "$tmp" "$file.sig" <<'PY'
import sys
open(sys.argv[2], "wb").write(open(sys.argv[1], "rb").read()[::-1])
PY
  rm -f "$tmp"
  echo "update-signing: wrote $file.sig"
}

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
    sign_file "$key" "$file"
    ;;
  release)
    usage="usage: release KEY.pem FOLDER VERSION BASE_URL TITLE [LINE...]"
    [ $# -ge 6 ] || die "$usage"
    key=$2 folder=$3 version=$4 base=$5
    shift 5
    [ -f "$key" ] || die "$key: no such key"
    [ -d "$folder" ] || die "$folder: no such folder"
    # Written aside and moved into place only once it is whole and checked: a refused release leaves
    # an earlier update.txt of the folder as it was.
    trap 'rm -f "$folder/update.txt.new" "$folder/update.txt.new.sig"' EXIT
    python3 - "$folder" "$version" "$base" "$@" <<'PY' || exit 1
import hashlib, os, re, sys

MAX_FILE_BYTES = 64 << 20        # the most the updater takes for one file
MAX_DESCRIPTION_BYTES = 1 << 20  # and for update.txt
MAX_FILES = 100                  # FILE0 to FILE99
RESERVED = {"update.txt", "update.txt.sig", "config.ini"}
DEVICES = {"con", "prn", "aux", "nul", "conin$", "conout$", "clock$"}

def die(text):
    sys.stderr.write("update-signing: " + text + "\n")
    sys.exit(1)

folder, version, base, title, lines = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5:]

# The updater compares versions as strings, code unit by code unit, and reads at most 9 characters.
if not re.fullmatch(r"[0-9A-Za-z._-]{1,9}", version):
    die("version %r: 1 to 9 of the characters 0-9 A-Z a-z . _ -" % version)
base = base.rstrip("/")
if not re.fullmatch(r"https?://[^\s\"'<>\\]+", base):
    die("base URL %r: an http:// or https:// address without blanks or quotes" % base)

names = sorted(n for n in os.listdir(folder)
               if os.path.isfile(os.path.join(folder, n)) and n.lower() not in ("update.txt", "update.txt.sig", "update.txt.new", "update.txt.new.sig"))
if not names:
    die("%s holds no file to publish" % folder)
if len(names) > MAX_FILES:
    die("%d files: at most %d" % (len(names), MAX_FILES))
seen = set()
for n in names:
    stem = n.split(".")[0].rstrip(" ").lower()
    # The URL carries the name as it is (no escaping), and the updater saves the file under it.
    if (not re.fullmatch(r"[0-9A-Za-z._-]+", n) or n in (".", "..") or n.endswith(".") or
            n.lower() in RESERVED or stem in DEVICES or re.fullmatch(r"(com|lpt)[0-9]", stem)):
        die("%r cannot be published: names of the characters 0-9 A-Z a-z . _ - only, not "
            "update.txt, Config.ini or a device name" % n)
    if n.lower() in seen:
        die("%r: two files whose names differ only in case" % n)
    seen.add(n.lower())

def value(text, what):
    if "\r" in text or "\n" in text:
        die("%s: one line only" % what)
    if not text.strip():
        die("%s: empty (an empty line would end the change log)" % what)
    if len(text) > 1023:
        die("%s: more than 1023 characters" % what)
    # The reader trims blanks and drops one pair of enclosing quotes: such a value is quoted once more.
    if text != text.strip(" \t") or (len(text) >= 2 and text[0] in "\"'" and text[-1] == text[0]):
        text = '"' + text + '"'
    return text

out = ["[UPDATE]", "VERSION=" + version, "CanAutoUpdate=1", "UPDATEFILECOUNT=%d" % (len(names) - 1)]
for i, n in enumerate(names):
    path = os.path.join(folder, n)
    size = os.path.getsize(path)
    if size > MAX_FILE_BYTES:
        die("%s: %d bytes, the updater takes at most %d" % (n, size, MAX_FILE_BYTES))
    url = base + "/" + n
    if len(url) > 255:
        die("%s: its URL has more than 255 characters" % url)
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 16), b""):
            digest.update(block)
    out += ["FILE%d=%s" % (i, url), "FILE%dSHA256=%s" % (i, digest.hexdigest()), "FILE%dSIZE=%d" % (i, size)]
out.append("UpdateTitle=" + value(title, "the title"))
for i, line in enumerate(lines):
    out.append("UPDATETXT%d=%s" % (i, value(line, "change-log line %d" % (i + 1))))

data = b"\xef\xbb\xbf" + ("\r\n".join(out) + "\r\n").encode("utf-8")
if len(data) > MAX_DESCRIPTION_BYTES:
    die("update.txt would have %d bytes, the updater reads at most %d" % (len(data), MAX_DESCRIPTION_BYTES))
with open(os.path.join(folder, "update.txt.new"), "wb") as f:
    f.write(data)
for i, n in enumerate(names):
    print("update-signing: FILE%d %s" % (i, n))
PY
    sign_file "$key" "$folder/update.txt.new"
    mv -f "$folder/update.txt.new" "$folder/update.txt"
    mv -f "$folder/update.txt.new.sig" "$folder/update.txt.sig"
    echo "update-signing: wrote $folder/update.txt and $folder/update.txt.sig for version $version"
    ;;
  *)
    die "usage: $0 keygen DIR | sign KEY.pem update.txt | release KEY.pem FOLDER VERSION BASE_URL TITLE [LINE...]"
    ;;
esac
