# A throwaway public-key infrastructure for the signing tests, made with
# openssl in a folder of the caller's: a certificate authority, code-signing
# certificates issued by it (good ones and deliberately bad ones) and a
# time-stamping certificate. Nothing of it is meant to outlive the test's
# build folder. Sourced:
#
#   source tests/support/pki.sh
#   qv_pki_ca DIR                      DIR/ca.pem, ca.der, ca.key, and the
#                                      openssl ca config behind the others
#   qv_pki_cert DIR NAME EKU [START END]
#                                      DIR/NAME.key, NAME.pem (certificate
#                                      then the CA: a chain), NAME.p12
#                                      (password in DIR/pass), issued by the
#                                      CA with extended key usage EKU
#                                      (codeSigning, timeStamping, or
#                                      serverAuth for a certificate that may
#                                      not sign code), valid from START to END
#                                      (YYYYMMDDHHMMSSZ; default: from an hour
#                                      ago for 30 days); an existing
#                                      DIR/NAME.key is kept: a certificate
#                                      for a key that has one already
#
# Every function returns non-zero, with openssl's words on standard error,
# when a step fails.

qv_pki_ca() {
  local dir=$1
  mkdir -p "$dir/issued" || return 1
  : >"$dir/index.txt"
  echo 1000 >"$dir/serial"
  printf '%s\n' "qv-test-password" >"$dir/pass"
  cat >"$dir/ca.cnf" <<EOF
[ca]
default_ca = qv
[qv]
dir = $dir
database = \$dir/index.txt
serial = \$dir/serial
new_certs_dir = \$dir/issued
certificate = \$dir/ca.pem
private_key = \$dir/ca.key
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
[anything]
commonName = supplied
organizationName = optional
EOF
  # One extension section per extended key usage, named after it.
  local eku
  for eku in codeSigning "critical, timeStamping" serverAuth; do
    printf '[%s]\nbasicConstraints = critical, CA:FALSE\nkeyUsage = critical, digitalSignature\n' "${eku#critical, }"
    printf 'extendedKeyUsage = %s\nsubjectKeyIdentifier = hash\nauthorityKeyIdentifier = keyid\n' "$eku"
  done >>"$dir/ca.cnf"
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 30 -keyout "$dir/ca.key" -out "$dir/ca.pem" \
    -subj "/O=Quarn QV test/CN=Quarn QV Test Root CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -addext "subjectKeyIdentifier=hash" 2>"$dir/ca.log" &&
    openssl x509 -in "$dir/ca.pem" -outform DER -out "$dir/ca.der" ||
    { cat "$dir/ca.log" >&2; return 1; }
}

qv_pki_cert() {
  local dir=$1 name=$2 eku=$3 start=${4:-} end=${5:-} dates key=(-newkey rsa:2048 -nodes -keyout "$1/$2.key")
  [ ! -f "$dir/$name.key" ] || key=(-key "$dir/$name.key")
  if [ -n "$start" ]; then
    dates=(-startdate "$start" -enddate "$end")
  else
    dates=(-startdate "$(date -u -d '1 hour ago' +%Y%m%d%H%M%SZ)" -days 30)
  fi
  openssl req -new "${key[@]}" -out "$dir/$name.csr" \
    -subj "/O=Quarn QV test/CN=Quarn QV Test $name" 2>"$dir/$name.log" &&
    openssl ca -batch -config "$dir/ca.cnf" -extensions "$eku" "${dates[@]}" \
      -in "$dir/$name.csr" -out "$dir/$name.crt" -notext 2>>"$dir/$name.log" &&
    cat "$dir/$name.crt" "$dir/ca.pem" >"$dir/$name.pem" &&
    openssl pkcs12 -export -inkey "$dir/$name.key" -in "$dir/$name.crt" -certfile "$dir/ca.pem" \
      -passout "file:$dir/pass" -out "$dir/$name.p12" 2>>"$dir/$name.log" ||
    { cat "$dir/$name.log" >&2; return 1; }
}
