#!/usr/bin/env bash
# Makes the signed copies of the deliverables that the Windows tests run and
# check: a throwaway certificate authority and code-signing certificate
# (tests/support/pki.sh), each file signed as a release signs it (SHA-256,
# from the PKCS#12 file), and a copy of each signed file with one byte of its
# code changed. Run by the Windows build; everything goes to OUT, made anew:
#
#   bash tests/signed/make_signed.sh OUT OBJDUMP FILE...
#
#   OUT/pki/ca.der        the authority the tests tell Windows to trust
#   OUT/<file>            the signed copy
#   OUT/changed/<file>    the signed copy with one byte of .text changed
#
# OBJDUMP is the binutils objdump that reads PE files; it tells where .text
# lies in the file.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?output folder}
objdump=${2:?objdump}
shift 2
fail() {
  echo "make_signed: $*" >&2
  exit 1
}

# The file offset of the section's raw data, from objdump's section headers
# ("Idx Name Size VMA LMA File-off Algn").
section_offset() {
  "$objdump" -h "$1" | awk -v s="$2" '$2 == s { print $6; exit }'
}

# Changes the byte at the offset (XOR 0x01) in place.
flip_byte() {
  local file=$1 offset=$2 byte
  byte=$(od -An -tu1 -j "$offset" -N 1 "$file" | tr -d ' ')
  [ -n "$byte" ] || return 1
  printf '%b' "\\$(printf '%03o' $((byte ^ 1)))" |
    dd of="$file" bs=1 seek="$offset" conv=notrunc status=none
}

rm -rf "$out" && mkdir -p "$out/pki" "$out/changed" || fail "cannot make $out"
# shellcheck source=../support/pki.sh
source "$here/../support/pki.sh"
qv_pki_ca "$out/pki" || fail "openssl could not make the test certificate authority (above)"
qv_pki_cert "$out/pki" signer codeSigning || fail "openssl could not make the code-signing certificate (above)"

# Signed as a release signs (scripts/sign.sh), through the PKCS#12 file.
# shellcheck source=../../scripts/sign.sh
source "$here/../../scripts/sign.sh"
QV_SIGN_KEY=$out/pki/signer.p12 QV_SIGN_CERT=$out/pki/signer.pem QV_SIGN_PASS_FILE=$out/pki/pass qv_key_kind=pkcs12
unset QV_SIGN_TIMESTAMP_URL
for file in "$@"; do
  name=$(basename "$file")
  qv_sign "$file" "$out/$name" "$out/pki/$name.p7s" "$out/pki/sign.log" || fail "could not sign $file (above)"
  text=$(section_offset "$out/$name" .text)
  [ -n "$text" ] || fail "$objdump finds no .text section in $out/$name"
  cp "$out/$name" "$out/changed/$name" &&
    flip_byte "$out/changed/$name" $((16#$text + 16)) || fail "cannot change a byte of $out/changed/$name"
done
