# Authenticode signing for scripts/release.sh (sourced): the check of the
# signing input (QV_SIGN_*, see docs/releasing.md), made before anything is
# built, and the signing of a file. The password or PIN goes to openssl and
# osslsigncode only as a file name, never on a command line.

# Sets sign (1/0), qv_key_kind (pkcs12, pem, pkcs11), qv_signer and
# qv_signer_fingerprint; returns 1 with a message naming the cause of bad input.
qv_check_sign_input() {
  local cert=${QV_SIGN_CERT:-} key=${QV_SIGN_KEY:-} pass=${QV_SIGN_PASS_FILE:-} url=${QV_SIGN_TIMESTAMP_URL:-}
  local passin=() cert_pub key_pub not_before eku err p12_cert=''
  who() { openssl x509 -noout "$@" -subject -nameopt RFC2253 | sed 's/^subject=//'; }
  sign=0
  if [ -z "$key" ]; then
    [ -z "$cert" ] || { echo "release: FAILED: QV_SIGN_CERT is set but QV_SIGN_KEY is not: name the key to sign with" >&2; return 1; }
    echo "release: no signing key (QV_SIGN_KEY): the files will be unsigned"
    return 0
  fi
  sign=1
  bad() { rm -f "${err:-}"; echo "release: FAILED: $*" >&2; return 1; }
  command -v osslsigncode >/dev/null || bad "osslsigncode is missing (bash scripts/install-deps.sh installs it)" || return
  [ -n "$cert" ] && [ -r "$cert" ] && [ -f "$cert" ] || bad "cannot read the certificate QV_SIGN_CERT=$cert" || return
  if [ -n "$pass" ]; then
    [ -r "$pass" ] && [ -f "$pass" ] || bad "cannot read the password file QV_SIGN_PASS_FILE=$pass" || return
    passin=(-passin "file:$pass")
  fi
  err=$(mktemp) || return 1
  case $key in
    pkcs11:*)
      qv_key_kind=pkcs11
      [ -r "${QV_SIGN_PKCS11_MODULE:-}" ] || bad "cannot read the token's module QV_SIGN_PKCS11_MODULE=${QV_SIGN_PKCS11_MODULE:-}" || return
      [ -n "$pass" ] || bad "a PKCS#11 key needs QV_SIGN_PASS_FILE, a file holding the token's PIN" || return
      key_pub=$(PKCS11_MODULE_PATH=$QV_SIGN_PKCS11_MODULE openssl pkey -engine pkcs11 -inform engine -in "$key" "${passin[@]}" -pubout 2>"$err")
      [ -n "$key_pub" ] || bad "cannot use the key $key on the token: $(qv_openssl_why "$err")" || return ;;
    *)
      [ -r "$key" ] && [ -f "$key" ] || bad "cannot read the key QV_SIGN_KEY=$key" || return
      if grep -q -- '-----BEGIN' "$key"; then
        qv_key_kind=pem
        # Without a password file, an encrypted key fails here rather than
        # asking at the terminal.
        ((${#passin[@]})) || passin=(-passin pass:)
        key_pub=$(openssl pkey -in "$key" "${passin[@]}" -pubout 2>"$err")
      else
        qv_key_kind=pkcs12
        [ -n "$pass" ] || bad "a PKCS#12 key needs QV_SIGN_PASS_FILE, a file holding its password" || return
        key_pub=$(openssl pkcs12 -in "$key" "${passin[@]}" -nocerts -nodes 2>"$err" | openssl pkey -pubout 2>>"$err")
        p12_cert=$(openssl pkcs12 -in "$key" "${passin[@]}" -nokeys -clcerts 2>/dev/null | openssl x509 2>/dev/null)
      fi
      [ -n "$key_pub" ] || bad "cannot open the key $key: $(qv_openssl_why "$err")" || return ;;
  esac
  rm -f "$err"
  cert_pub=$(openssl x509 -in "$cert" -noout -pubkey 2>/dev/null) || bad "$cert holds no PEM certificate" || return
  [ "$cert_pub" = "$key_pub" ] || bad "the key $key does not match the certificate in $cert" || return
  openssl x509 -in "$cert" -noout -checkend 0 >/dev/null ||
    bad "the certificate in $cert has expired ($(openssl x509 -in "$cert" -noout -enddate | cut -d= -f2))" || return
  not_before=$(openssl x509 -in "$cert" -noout -startdate | cut -d= -f2)
  [ "$(date -d "$not_before" +%s)" -le "$(date +%s)" ] || bad "the certificate in $cert is not valid before $not_before" || return
  eku=$(openssl x509 -in "$cert" -noout -ext extendedKeyUsage 2>/dev/null)
  grep -q 'Code Signing' <<<"$eku" ||
    bad "the certificate in $cert may not sign code: it lacks the code-signing extended key usage${eku:+ (it has: $(tail -n +2 <<<"$eku" | xargs))}" || return
  qv_signer=$(who -in "$cert")
  qv_signer_fingerprint=$(openssl x509 -in "$cert" -noout -fingerprint -sha256 | cut -d= -f2)
  [ -z "$p12_cert" ] || [ "$(openssl x509 -noout -fingerprint -sha256 <<<"$p12_cert" | cut -d= -f2)" = "$qv_signer_fingerprint" ] ||
    bad "the certificate in $key ($(who <<<"$p12_cert")) is not the one in $cert ($qv_signer)" || return
  if [ -n "$url" ]; then
    qv_timestamp_answers "$url" || bad "the time-stamping server $url does not answer ($qv_why)" || return
  else
    echo "release: no time-stamping server (QV_SIGN_TIMESTAMP_URL): the signatures will carry no time stamp"
  fi
  echo "release: signing with the $qv_key_kind key $key as $qv_signer"
}

# openssl's reason from its error output FILE (removed), in a few words.
qv_openssl_why() {
  if grep -qiE 'mac verify failure|invalid password|bad decrypt|PIN incorrect|pin.*(invalid|locked)|Login failed|maybe wrong password' "$1"; then
    echo "wrong password or PIN (QV_SIGN_PASS_FILE)"
  else
    grep -v '^Engine ' "$1" | head -n 1
  fi
  rm -f "$1"
}

# Sends URL a time-stamp request; sets qv_why when no time-stamp reply comes.
qv_timestamp_answers() {
  qv_why=$(openssl ts -query -digest "$(printf '%064d' 0)" -sha256 -cert 2>&1 |
    timeout 30 python3 -c '
import sys, urllib.request
req = urllib.request.Request(sys.argv[1], data=sys.stdin.buffer.read(), headers={"Content-Type": "application/timestamp-query"})
try:
    with urllib.request.urlopen(req, timeout=20) as r:
        body = r.read()
        if r.headers.get("Content-Type", "") != "application/timestamp-reply" or not body:
            sys.exit("its answer is no time-stamp response")
except Exception as e:
    sys.exit(str(e))' "$1" 2>&1) && return 0
  qv_why=${qv_why:-no answer within 30 s}
  return 1
}

# Signs IN into OUT (SHA-256, time-stamped when a server is named), its detached
# signature to P7S; osslsigncode's words go to LOG. QV_SIGN_CERT's chain signs:
# a PKCS#12 key goes as a PEM key under its password, removed after signing.
qv_sign() {
  local in=$1 out=$2 p7s=$3 log=$4 key=(-certs "$QV_SIGN_CERT" -key "$QV_SIGN_KEY")
  case $qv_key_kind in
    pkcs12) key[3]=$log.key
      (umask 077 && openssl pkcs12 -in "$QV_SIGN_KEY" -passin "file:$QV_SIGN_PASS_FILE" -nocerts -nodes |
        openssl pkey -aes256 -passout "file:$QV_SIGN_PASS_FILE" -out "$log.key") >>"$log" 2>&1 ;;
    pkcs11) key+=(-pkcs11module "$QV_SIGN_PKCS11_MODULE") ;;
  esac
  [ -z "${QV_SIGN_PASS_FILE:-}" ] || key+=(-readpass "$QV_SIGN_PASS_FILE")
  [ -z "${QV_SIGN_TIMESTAMP_URL:-}" ] || key+=(-ts "$QV_SIGN_TIMESTAMP_URL")
  echo "== signing $in" >>"$log"
  rm -f "$out" "$p7s"   # osslsigncode 2.9 will not overwrite a file
  if ! osslsigncode sign -h sha256 -n "Quarn QV" "${key[@]}" -in "$in" -out "$out" >>"$log" 2>&1 ||
     ! qv_extract "$out" "$p7s" >>"$log" 2>&1; then
    rm -f "$log.key"
    tail -n 10 "$log" >&2
    echo "release: FAILED: signing ${in##*/} (log $log)" >&2
    return 1
  fi
  rm -f "$log.key"
}

# Signs the record of the release in DIR, SHA256SUMS and BUILD.txt, with the same
# key and certificate as the files: detached CMS signatures (DER, SHA-256) in
# signatures/<file>.p7s, with QV_SIGN_CERT's intermediates (the signer's certificate
# goes in once); openssl's words go to LOG.
qv_sign_record() {
  local f key=(-signer "$QV_SIGN_CERT" -inkey "$QV_SIGN_KEY")
  [ "$qv_key_kind" != pkcs12 ] || key+=(-keyform P12)
  [ "$qv_key_kind" != pkcs11 ] || key+=(-engine pkcs11 -keyform engine)
  [ -z "${QV_SIGN_PASS_FILE:-}" ] || key+=(-passin "file:$QV_SIGN_PASS_FILE")
  awk '/-----BEGIN CERTIFICATE-----/ { n++ } n > 1' "$QV_SIGN_CERT" >"$2.chain" && [ ! -s "$2.chain" ] || key+=(-certfile "$2.chain")
  for f in SHA256SUMS BUILD.txt; do
    PKCS11_MODULE_PATH=${QV_SIGN_PKCS11_MODULE:-} openssl cms -sign -binary -md sha256 -nosmimecap "${key[@]}" \
      -in "$1/$f" -outform DER -out "$1/signatures/$f.p7s" >>"$2" 2>&1 || { tail -n 10 "$2" >&2; echo "release: FAILED: signing $f (log $2)" >&2; return 1; }
  done
}

# The signature of the signed file IN as a detached PKCS#7 file in DER, OUT:
# osslsigncode 2.5 extracts it with the PE certificate table's header, 2.9
# without, so it is taken as PEM and converted.
qv_extract() {
  rm -f "$2.pem" && osslsigncode extract-signature -pem -in "$1" -out "$2.pem" >/dev/null &&
    openssl pkcs7 -in "$2.pem" -outform DER -out "$2" && rm -f "$2.pem"
}

# Attaches the detached signature P7S to IN, giving OUT; osslsigncode's words
# go to LOG. Its check of the result is against the certificates the signature
# itself carries (a machine may have no trust store): what counts is the bytes.
qv_attach() {
  local p7s=$1 in=$2 out=$3 log=$4
  rm -f "$out" && openssl pkcs7 -inform DER -in "$p7s" -out "$log.pem" >"$log" 2>&1 &&
    openssl pkcs7 -in "$log.pem" -print_certs -out "$log.certs" >>"$log" 2>&1 || return 1
  osslsigncode attach-signature -CAfile "$log.certs" -TSA-CAfile "$log.certs" -sigin "$log.pem" -in "$in" -out "$out" >>"$log" 2>&1
  [ -s "$out" ]
}
