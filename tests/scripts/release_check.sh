#!/usr/bin/env bash
# The release path with real parts, all made here in the build folder: a
# throwaway certificate authority (tests/support/pki.sh), the signing key as a
# PKCS#12 file and in a SoftHSM2 token, and an RFC 3161 time-stamping
# responder (openssl ts behind a small HTTP server on 127.0.0.1). It runs
# scripts/release.sh unsigned (with build flags in the environment, which must
# not reach the bytes), signed through the PKCS#12 file with a time stamp and
# through the token without, --check on the results (with and without the
# expected signer) and on tampered copies, each of which must end within 60 s
# with exit 1 naming the file, --attach, and each bad signing input once, which
# must be refused with its cause named and the dist folder left as it was.
# Nothing is left running.
#
#   bash tests/scripts/release_check.sh [BUILD]
#
# Lines start with "release-check:"; the last says "passed" or how many
# checks failed, and so does the exit code.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=${1:-${QV_BUILD_DIR:-$root/build}}/release-check
rm -rf "$work"
mkdir -p "$work" && work=$(cd "$work" && pwd) || exit 1
pki=$work/pki
failed=0
say() { echo "release-check: $*"; }
check() {
  local what=$1
  shift
  if "$@"; then say "ok: $what"; else say "FAILED: $what"; failed=$((failed + 1)); fi
}
give_up() { say "FAILED: $*"; exit 1; }
unset QV_SIGN_CERT QV_SIGN_KEY QV_SIGN_PKCS11_MODULE QV_SIGN_PASS_FILE QV_SIGN_TIMESTAMP_URL

# shellcheck source=../support/pki.sh
source "$root/tests/support/pki.sh"
qv_pki_ca "$pki" || give_up "making the CA"
qv_pki_cert "$pki" signer codeSigning &&
  qv_pki_cert "$pki" other codeSigning &&
  qv_pki_cert "$pki" tsa timeStamping &&
  qv_pki_cert "$pki" web serverAuth &&
  qv_pki_cert "$pki" expired codeSigning 20200101000000Z 20200201000000Z &&
  qv_pki_cert "$pki" future codeSigning 20990101000000Z 20990201000000Z &&
  cp "$pki/signer.key" "$pki/stale.key" && qv_pki_cert "$pki" stale serverAuth 20200101000000Z 20200201000000Z &&
  qv_pki_ca "$pki/rogue" && qv_pki_cert "$pki/rogue" tsa timeStamping && qv_pki_cert "$pki/rogue" signer codeSigning || give_up "making the certificates"
echo wrong-password >"$pki/wrong"

# The signing key in a SoftHSM2 token of its own.
export SOFTHSM2_CONF=$pki/softhsm2.conf
module=/usr/lib/softhsm/libsofthsm2.so
mkdir -p "$pki/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$pki/tokens" >"$SOFTHSM2_CONF"
echo 246810 >"$pki/pin"
{ softhsm2-util --init-token --free --label qv-release --pin 246810 --so-pin 135791 &&
  openssl pkcs8 -topk8 -nocrypt -in "$pki/signer.key" -out "$pki/signer.p8" &&
  softhsm2-util --import "$pki/signer.p8" --token qv-release --label publisher --id 01 --pin 246810; } \
  >"$pki/softhsm.log" 2>&1 || { cat "$pki/softhsm.log"; give_up "making the SoftHSM2 token"; }
token_key="pkcs11:token=qv-release;object=publisher;type=private"

# The time-stamping responder: openssl ts -reply for each request POSTed to it,
# under the test CA, or under a CA nobody trusts for a path starting /rogue.
cat >"$pki/ts.cnf" <<EOF
[tsa]
default_tsa = qv
[qv]
serial = $pki/tsa-serial
signer_digest = sha256
default_policy = 1.3.6.1.4.1.55555.1
digests = sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_chain = no
EOF
echo 01 >"$pki/tsa-serial"
timeout 1800 python3 - "$pki" <<'PY' >"$pki/tsa.log" 2>&1 &
import http.server, subprocess, sys, tempfile, os
pki = sys.argv[1]
class Responder(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        tsa = pki + ("/rogue" if self.path.startswith("/rogue") else "")
        with tempfile.TemporaryDirectory() as d:
            with open(os.path.join(d, "q"), "wb") as f:
                f.write(self.rfile.read(int(self.headers["Content-Length"])))
            run = subprocess.run(["openssl", "ts", "-reply", "-config", pki + "/ts.cnf", "-queryfile", d + "/q",
                                  "-signer", tsa + "/tsa.crt", "-inkey", tsa + "/tsa.key", "-chain", tsa + "/ca.pem",
                                  "-out", d + "/r"], capture_output=True)
            reply = open(d + "/r", "rb").read() if run.returncode == 0 else b""
        print("request: openssl ts exit %d %s" % (run.returncode, run.stderr.decode()[-200:]), flush=True)
        self.send_response(200 if reply else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
server = http.server.HTTPServer(("127.0.0.1", 0), Responder)
open(pki + "/tsa.port.part", "w").write(str(server.server_port))
os.rename(pki + "/tsa.port.part", pki + "/tsa.port")
server.serve_forever()
PY
responder=$!
trap 'kill "$responder" 2>/dev/null; wait "$responder" 2>/dev/null' EXIT
for _ in $(seq 100); do [ -s "$pki/tsa.port" ] || sleep 0.1; done
[ -s "$pki/tsa.port" ] || { cat "$pki/tsa.log"; give_up "the time-stamping responder did not start"; }
tsa=http://127.0.0.1:$(cat "$pki/tsa.port")/

# release DIST [VAR=VALUE]... [-- ARG...]: release.sh with these variables,
# its build folder here and its dist folder $work/DIST, stopped after $limit
# seconds (default 20 min); its output indented.
release() {
  local dist=$work/$1 sets=() rc
  shift
  while [ $# -gt 0 ] && [ "$1" != -- ]; do sets+=("$1"); shift; done
  [ $# = 0 ] || shift
  timeout "${limit:-1200}" env ${sets[@]+"${sets[@]}"} bash "$root/scripts/release.sh" --allow-dirty --build "$work/build" --dist "$dist" "$@" \
    >"$work/last.log" 2>&1
  rc=$?
  sed 's/^/    /' "$work/last.log"
  return $rc
}
one() { ls -d "$work/$1"/qv-*/ 2>/dev/null | head -n 1; }
verified() { osslsigncode verify -CAfile "$pki/ca.pem" -TSA-CAfile "$pki/ca.pem" -in "$1" >"$work/verify.log" 2>&1; }
said() { grep -qF -- "$1" "$work/last.log"; }
# rejects WANTED ARG...: --check ARG... ends within 60 s with exit 1, saying WANTED.
rejects() {
  local wanted=$1
  shift
  limit=60 release x -- --check "$@"
  [ $? = 1 ] && said "$wanted"
}

say "an unsigned release, with build flags and CMake variables in the environment"
check "release.sh without a key makes an unsigned release, and says so" \
  eval 'release unsigned CXXFLAGS=-O0 CFLAGS=-O0 LDFLAGS=-s CMAKE_BUILD_TYPE=Debug &&
        said "the files are unsigned" && grep -qx unsigned "$(one unsigned)/BUILD.txt"'
check "its sums and --check --unsigned pass, and --check says what that proves" \
  eval '(cd "$(one unsigned)" && sha256sum -c --quiet SHA256SUMS) && release x -- --check "$(one unsigned)" --unsigned &&
        said "proves only that the files match the folder" && said "not who made them"'
check "--check without --unsigned refuses it" rejects "QV_PLUGIN.dll: it carries no signature" "$(one unsigned)"

say "signed through the PKCS#12 file, time-stamped"
export QV_SIGN_CERT=$pki/signer.pem QV_SIGN_PASS_FILE=$pki/pass QV_SIGN_TIMESTAMP_URL=$tsa
check "release.sh signs through the PKCS#12 file" release p12 QV_SIGN_KEY="$pki/signer.p12"
p12=$(one p12)
for f in QV_InternalTool.exe QV_PLUGIN.dll; do
  check "osslsigncode verify accepts $f against the CA, with its time stamp" \
    eval 'verified "$p12/$f" && grep -q "Timestamp Server Signature verification: ok" "$work/verify.log"'
done
check "BUILD.txt names the signer, its fingerprint and the time-stamping server" \
  eval 'grep -q "^signed (Authenticode, SHA-256) by .*CN=Quarn QV Test signer" "$p12/BUILD.txt" &&
        grep -q "^signer certificate SHA-256 fingerprint: [0-9A-F:]\{95\}$" "$p12/BUILD.txt" && grep -qxF "time stamp: $tsa" "$p12/BUILD.txt"'
fingerprint() { openssl x509 -in "$pki/$1.pem" -noout -fingerprint -sha256 | cut -d= -f2; }
check "--check passes against the CA, and writes nothing" \
  eval 'before=$(find "$p12" -printf "%p %s %T@\n") && release x -- --check "$p12" "$pki/ca.pem" &&
        [ "$(find "$p12" -printf "%p %s %T@\n")" = "$before" ] && [ ! -e "$work/x" ]'
check "--check passes with the signer's fingerprint as pasted (lower case)" \
  release x -- --check "$p12" "$pki/ca.pem" --signer "$(fingerprint signer | tr A-F a-f)"
check "--check refuses it with another signer's fingerprint" \
  rejects "BUILD.txt: it records the signer $(fingerprint signer | tr -d :), not $(fingerprint other | tr -d :) (--signer)" \
  "$p12" "$pki/ca.pem" --signer "$(fingerprint other)"
check "--check takes a folder whose name begins with -" \
  eval 'cp -r "$p12" "$work/-rel" && (cd "$work" && release x -- --check -rel "$pki/ca.pem")'
check "--check refuses a CA argument that is a folder, naming it" \
  rejects "the CA file $pki is not a readable file of PEM certificates" "$p12" "$pki"
check "--check refuses a CA argument that is not a certificate, naming it" \
  rejects "the CA file $pki/pass is not a readable file of PEM certificates" "$p12" "$pki/pass"
check "--check without the CA (this machine's trust store) fails" eval '! release x -- --check "$p12"'
cp -r "$p12" "$work/changed"
printf '\x90' | dd of="$work/changed/QV_InternalTool.exe" bs=1 seek=1100 conv=notrunc status=none
check "--check fails and names the file after one byte of it changed" \
  eval '! release x -- --check "$work/changed" "$pki/ca.pem" && said "check: QV_InternalTool.exe: " && ! said "check: QV_PLUGIN.dll: "'
check "--attach of this tree's build gives the published files byte for byte, making no dist folder" \
  eval 'release x -- --attach "$p12" && [ ! -e "$work/x" ]'
check "--attach fails on a release whose file differs" eval '! release x -- --attach "$work/changed" && said QV_InternalTool.exe'
unsigned_sums() { grep '^unsigned sha256: ' "$1/BUILD.txt"; }
check "the build flags in the environment did not reach the unsigned release's bytes" \
  eval '[ "$(unsigned_sums "$(one unsigned)")" = "$(unsigned_sums "$p12")" ]'

say "tampered copies of the signed release: --check fails on each, naming what is wrong"
# shellcheck source=../../scripts/sign.sh
source "$root/scripts/sign.sh"
strip() { osslsigncode remove-signature -in "$1" -out "$1.u" >/dev/null && mv "$1.u" "$1"; }
resum() { sha256sum QV_InternalTool.exe QV_PLUGIN.dll >SHA256SUMS; }
# resign FILE NAME [URL]: FILE signed anew by NAME's key and certificate, time-stamped by URL.
resign() {
  strip "$1" && mv "$1" "$1.u" && QV_SIGN_KEY=$pki/$2.p12 QV_SIGN_CERT=$pki/$2.pem QV_SIGN_TIMESTAMP_URL=${3:-} \
    qv_key_kind=pkcs12 qv_sign "$1.u" "$1" "signatures/$1.p7s" "$work/resign.log" 2>/dev/null && rm "$1.u"
}
# flip FILE OFFSET: the byte there XOR 1. The PE CheckSum lies 88 bytes after the PE header's start.
flip() { printf "\\$(printf %03o $(($(od -An -tu1 -j "$2" -N 1 "$1") ^ 1)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
checksum_at() { echo $(($(od -An -tu4 -j 60 -N 4 "$1") + 88)); }
# again FILE COMMAND ARG...: osslsigncode COMMAND on FILE, its .p7s and the sums made anew.
again() {
  local f=$1 command=$2
  shift 2
  osslsigncode "$command" "$@" -in "$f" -out "$f.new" >/dev/null 2>&1 && mv "$f.new" "$f" && qv_extract "$f" "signatures/$f.p7s" && resum
}
rogue=(-h sha256 -certs "$pki/rogue/signer.pem" -key "$pki/rogue/signer.key")
# tampered RELEASE: each case (WHAT|WANTED|HOW[|ARGS]) on a copy of RELEASE in
# $work/t, made by HOW there; --check ARGS (default: the copy and the CA) must
# refuse it, saying WANTED. (osslsigncode versions differ in the order of a
# nested signature and a time stamp, so WANTED names neither first.)
tampered() {
  local release=$1 what wanted how args
  while IFS='|' read -r what wanted how args; do
    rm -rf "$work/t" && cp -r "$release" "$work/t" && (cd "$work/t" && eval "$how") || give_up "making the copy with $what"
    eval "set -- ${args:-\"\$work/t\" \"\$pki/ca.pem\"}"
    check "$what: '$wanted'" rejects "$wanted" "$@"
  done
}
tampered "$p12" <<'CASES'
another DLL, its signature deleted, the sums edited|QV_PLUGIN.dll: it carries no signature|strip QV_PLUGIN.dll && flip QV_PLUGIN.dll 1100 && rm signatures/QV_PLUGIN.dll.p7s && resum && sed -i "s/^unsigned sha256: .*  QV_PLUGIN.dll$/unsigned sha256: $(grep QV_PLUGIN SHA256SUMS)/" BUILD.txt
both signatures stripped, signatures/ deleted, the sums made anew|QV_InternalTool.exe: it carries no signature|strip QV_InternalTool.exe && strip QV_PLUGIN.dll && rm -r signatures && resum
a downgrade: signatures stripped, BUILD.txt says unsigned, no CA file given|QV_PLUGIN.dll: it carries no signature, and the release is checked as signed|strip QV_InternalTool.exe && strip QV_PLUGIN.dll && rm -r signatures && resum && sed -i '/^signed (/,/^signing tool: /c unsigned' BUILD.txt|"$work/t"
the PE CheckSum changed, outside the signed bytes|QV_InternalTool.exe: it is not its unsigned file with signatures/QV_InternalTool.exe.p7s attached|flip QV_InternalTool.exe "$(checksum_at QV_InternalTool.exe)" && resum
a version.dll added, with its sum and signature|version.dll: is not part of a release|cp QV_PLUGIN.dll version.dll && cp signatures/QV_PLUGIN.dll.p7s signatures/version.dll.p7s && sha256sum version.dll >>SHA256SUMS
a version.dll added, the folder named through a link|version.dll: is not part of a release|cp QV_PLUGIN.dll version.dll && ln -sfn t "$work/current"|"$work/current" "$pki/ca.pem"
the DLL a link to a copy outside|QV_PLUGIN.dll: is a link|mv QV_PLUGIN.dll "$work/outside.dll" && ln -s "$work/outside.dll" QV_PLUGIN.dll
the DLL a hard link to a file outside|QV_PLUGIN.dll: has 2 names (a hard link)|ln -f QV_PLUGIN.dll "$work/outside.dll"
a FIFO named like the DLL|QV_PLUGIN.dll: is a FIFO where a plain file belongs|rm QV_PLUGIN.dll && mkfifo QV_PLUGIN.dll
a FIFO in place of a .p7s|signatures/BUILD.txt.p7s: is a FIFO where a plain file belongs|rm signatures/BUILD.txt.p7s && mkfifo signatures/BUILD.txt.p7s
a folder in place of SHA256SUMS|SHA256SUMS: is a folder where a plain file belongs|rm SHA256SUMS && mkdir SHA256SUMS
the DLL signed by another certificate of the same CA|QV_PLUGIN.dll: its signature does not verify (it is not by the expected signer certificate|resign QV_PLUGIN.dll other && resum
a time stamp under a root nobody trusts|QV_InternalTool.exe: its time stamp does not verify|resign QV_InternalTool.exe signer "${tsa}rogue" && resum
another CA's signature nested under the publisher's|QV_PLUGIN.dll: its signature is not one signer's with only the time stamp BUILD.txt announces (signatures/QV_PLUGIN.dll.p7s: it holds 1 signer(s), unauthenticated attributes: (1.3.6.1.4.1.311.|again QV_PLUGIN.dll sign -nest "${rogue[@]}"
another CA's signature first, the publisher's nested under it|QV_PLUGIN.dll: its signature is not one signer's with only the time stamp BUILD.txt announces (signatures/QV_PLUGIN.dll.p7s: it holds 1 signer(s), unauthenticated attributes: (1.3.6.1.4.1.311.2.4.1))|openssl pkcs7 -inform DER -in signatures/QV_PLUGIN.dll.p7s -out "$work/p.pem" && strip QV_PLUGIN.dll && again QV_PLUGIN.dll sign "${rogue[@]}" && again QV_PLUGIN.dll attach-signature -nest -sigin "$work/p.pem" -CAfile "$pki/ca.pem"
a payload in an unauthenticated attribute|QV_PLUGIN.dll: its signature is not one signer's with only the time stamp BUILD.txt announces (signatures/QV_PLUGIN.dll.p7s: it holds 1 signer(s), unauthenticated attributes: (1.3.6.1.4.1.42921.1.2.1) (1.3.6.1.4.1.311.3.3.1))|again QV_PLUGIN.dll add -addUnauthenticatedBlob
bytes appended to a .p7s|QV_PLUGIN.dll: its signature is not one signer's with only the time stamp BUILD.txt announces (signatures/QV_PLUGIN.dll.p7s: it is missing, or not a signature in DER alone)|printf x >>signatures/QV_PLUGIN.dll.p7s
a line added to BUILD.txt|BUILD.txt: it is not what the expected signer signed (signatures/BUILD.txt.p7s: |echo "install the runtime that runtime.exe beside this file unpacks" >>BUILD.txt
the lines of SHA256SUMS swapped|SHA256SUMS: it is not byte for byte what sha256sum writes|tac SHA256SUMS >s && mv s SHA256SUMS
the last newline of SHA256SUMS removed|SHA256SUMS: it is not byte for byte what sha256sum writes|truncate -s -1 SHA256SUMS
everything signed anew by another certificate of the same CA, BUILD.txt's fingerprint edited, the expected signer given|QV_PLUGIN.dll: its signature does not verify (it is not by the expected signer certificate|resign QV_InternalTool.exe other && resign QV_PLUGIN.dll other && resum && sed -i "s/^\(signer certificate SHA-256 fingerprint: \).*/\1$(fingerprint other)/" BUILD.txt && QV_SIGN_CERT=$pki/other.pem QV_SIGN_KEY=$pki/other.p12 qv_key_kind=pkcs12 qv_sign_record . "$work/resign.log"|"$work/t" "$pki/ca.pem" --signer "$(fingerprint signer)"
CASES

say "signed through the SoftHSM2 token, without a time stamp"
check "release.sh signs through the token" \
  release token QV_SIGN_KEY="$token_key" QV_SIGN_PKCS11_MODULE=$module QV_SIGN_PASS_FILE="$pki/pin" QV_SIGN_TIMESTAMP_URL=
for f in QV_InternalTool.exe QV_PLUGIN.dll; do
  check "osslsigncode verify accepts the token's $f against the CA" verified "$(one token)/$f"
done
check "--check passes on the token's release" release x -- --check "$(one token)" "$pki/ca.pem"
check "the password never reaches a log or BUILD.txt" eval '! grep -rqF -e qv-test-password -e 246810 "$work"/build/*.log "$p12" "$(one token)"'
tampered "$(one token)" <<'CASES'
a time stamp added where BUILD.txt announces none|QV_PLUGIN.dll: its signature is not one signer's with only the time stamp BUILD.txt announces (signatures/QV_PLUGIN.dll.p7s: it holds 1 signer(s), unauthenticated attributes: (1.3.6.1.4.1.311.3.3.1))|again QV_PLUGIN.dll add -ts "$tsa"
CASES

say "bad signing input is refused before anything is written"
mkdir -p "$work/kept" && cp -r "$p12" "$work/kept/" || give_up "copying a release"
listing() { (cd "$work/kept" && find . -mindepth 1 -printf '%p %s %T@\n' | sort | sha256sum); }
before=$(listing)
# refused CAUSE [VAR=VALUE]...: release.sh with these changes must fail, say
# CAUSE, and leave the dist folder as it was.
refused() {
  local cause=$1
  shift
  release kept QV_SIGN_KEY="$pki/signer.p12" "$@" && return 1
  said "$cause" && [ "$(listing)" = "$before" ] && [ ! -e "$work/build/first" ] || { say "  (wanted: $cause)"; return 1; }
}
rm -rf "$work/build"
check "a missing key" refused "cannot read the key" QV_SIGN_KEY="$pki/none.p12"
check "an unreadable certificate" refused "cannot read the certificate" QV_SIGN_CERT="$pki/none.pem"
check "a wrong password" refused "wrong password or PIN" QV_SIGN_PASS_FILE="$pki/wrong"
check "a wrong PIN" refused "wrong password or PIN" QV_SIGN_KEY="$token_key" QV_SIGN_PKCS11_MODULE=$module QV_SIGN_PASS_FILE="$pki/wrong"
check "a key that does not match the certificate" refused "does not match the certificate" QV_SIGN_CERT="$pki/other.pem"
check "an expired certificate" refused "has expired" QV_SIGN_KEY="$pki/expired.p12" QV_SIGN_CERT="$pki/expired.pem"
check "a certificate not yet valid" refused "is not valid before" QV_SIGN_KEY="$pki/future.p12" QV_SIGN_CERT="$pki/future.pem"
check "a certificate without code signing" refused "lacks the code-signing extended key usage" QV_SIGN_KEY="$pki/web.p12" QV_SIGN_CERT="$pki/web.pem"
check "an unreachable time-stamping server" refused "does not answer" QV_SIGN_TIMESTAMP_URL=http://127.0.0.1:9/
check "a PKCS#12 file holding another certificate for the key, both named" refused \
  "the certificate in $pki/stale.p12 (O=Quarn QV test,CN=Quarn QV Test stale) is not the one in $pki/signer.pem (O=Quarn QV test,CN=Quarn QV Test signer)" \
  QV_SIGN_KEY="$pki/stale.p12"
check "files whose signatures do not chain to a trusted root once signed leave dist as it was" \
  eval '! release kept QV_SIGN_KEY="$pki/signer.p12" QV_SIGN_CERT="$pki/signer.crt" &&
        said "QV_PLUGIN.dll: its signature does not verify" && said "does not pass the check" && [ "$(listing)" = "$before" ]'

if [ "$failed" = 0 ]; then say "passed"; else say "$failed checks failed"; fi
[ "$failed" = 0 ]
