#!/usr/bin/env bash
# Makes the release of QV_InternalTool.exe and QV_PLUGIN.dll from the
# committed work tree (README, "Shipping"): refuses uncommitted changes and bad
# signing input before building; builds both twice in fresh folders and
# requires identical bytes; runs the PE checks; signs them when given a key
# (scripts/sign.sh); writes dist/qv-<short commit>/ (the files, SHA256SUMS,
# BUILD.txt, signatures/<file>.p7s), moved under that name only when complete.
#   bash scripts/release.sh [--allow-dirty] [--dist DIR] [--build DIR] [--compiler gcc|clang]
#   bash scripts/release.sh --attach DIR [--allow-dirty] [--build DIR] [--compiler gcc|clang]
#   bash scripts/release.sh --check DIR [CA-FILE] [--signer FINGERPRINT] | --check DIR --unsigned
# --allow-dirty (QV_RELEASE_ALLOW_DIRTY=1): uncommitted changes too, into
# qv-<commit>-dirty. --dist (QV_RELEASE_DIST, default dist), --build
# (QV_RELEASE_BUILD, default <QV_BUILD_DIR or build>/release). --compiler
# (QV_RELEASE_COMPILER): gcc, the release's compiler (default), or clang, the
# second compiler (cmake/clang-mingw-i686.cmake, lld). --attach: builds
# this tree, attaches DIR's signatures, exits 0 only when the results equal
# DIR's files byte for byte. --check: DIR is the release and nothing else,
# every byte signed by one certificate, FINGERPRINT's when given (SHA-256, hex),
# or unsigned when the user says so (check_release), naming each file that fails.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
allow_dirty=${QV_RELEASE_ALLOW_DIRTY:-0}
dist=${QV_RELEASE_DIST:-$root/dist}
builds=${QV_RELEASE_BUILD:-${QV_BUILD_DIR:-$root/build}/release}
mode=release ca='' signer='' unsigned=0
compiler=${QV_RELEASE_COMPILER:-gcc}
usage="usage: bash scripts/release.sh [--allow-dirty] [--dist DIR] [--build DIR] [--compiler gcc|clang] | --attach DIR [--allow-dirty] [--build DIR] [--compiler gcc|clang] | --check DIR [CA-FILE] [--signer FINGERPRINT] | --check DIR --unsigned"
fail() { echo "release: FAILED: $*" >&2; exit 1; }
names=(QV_InternalTool.exe QV_PLUGIN.dll)
# shellcheck source=sign.sh
source "$root/scripts/sign.sh"

while [ $# -gt 0 ]; do
  case $1 in
    --allow-dirty) allow_dirty=1 ;;
    --dist) [ $# -ge 2 ] || fail "--dist needs a folder"; dist=$2; shift ;;
    --build) [ $# -ge 2 ] || fail "--build needs a folder"; builds=$2; shift ;;
    --compiler) [ $# -ge 2 ] || fail "--compiler needs gcc or clang"; compiler=$2; shift ;;
    --attach) [ $# -ge 2 ] || fail "--attach needs a release folder"; mode=attach; published=$2; shift ;;
    --check) [ $# -ge 2 ] || fail "--check needs a release folder"; mode=check published=$2; shift 2
      while [ $# -gt 0 ]; do
        case $1 in
          --unsigned) unsigned=1 ;;
          --signer) signer=$(tr -d ': ' <<<"${2:-}" | tr a-f A-F); shift
            [[ $signer =~ ^[0-9A-F]{64}$ ]] || fail "--signer needs the signing certificate's SHA-256 fingerprint (64 hex digits, colons allowed)" ;;
          *) [ -z "$ca" ] || fail "unknown argument '$1' ($usage)"; ca=$1 ;;
        esac
        shift
      done; break ;;
    *) fail "unknown argument '$1' ($usage)" ;;
  esac
  shift
done
# The folder's own path, links resolved: what is checked is what the path names.
[ "$mode" = release ] || { p=$(realpath -e -- "$published") && [ -d "$p" ] && published=$p; } || fail "no release folder $published"
case $compiler in
  gcc) toolchain=cmake/mingw-i686.cmake ;;
  clang) toolchain=cmake/clang-mingw-i686.cmake ;;
  *) fail "unknown compiler '$compiler' (gcc or clang)" ;;
esac

# Checks the release folder $1 against the CA file $2 (none: the trust store) and
# the signer fingerprint $3 (none: BUILD.txt's), or as unsigned when $4=1, naming
# each file that fails. Nothing is read before the folder is known to hold only the
# release's plain files, each with one name. Signed, each file carries one signature
# by that certificate, no unauthenticated attribute but the time stamp BUILD.txt
# announces, and is its unsigned file with its .p7s attached; SHA256SUMS and
# BUILD.txt carry CMS signatures by it, verified as of the files' time stamp.
check_release() {
  local dir=$1 ca=$2 want=$3 unsigned=$4 tmp f y n sum fp ts=1 when='' bad=0 trust=() file why
  local -A part=() kind=([f]="a plain file" [d]="a folder" [l]="a link" [p]="a FIFO")
  problem() { echo "release: check: $f: $*"; bad=$((bad + 1)); }
  for n in "${names[@]}" SHA256SUMS BUILD.txt; do part[$n]=f; [ "$unsigned" = 1 ] || part[signatures]=d part[signatures/$n.p7s]=f; done
  while IFS=' ' read -r -d '' y n f; do
    case $y${part[$f]:-} in
      dd) ;;
      ff) [ "$n" = 1 ] || problem "has $n names (a hard link): its bytes can change after the check" ;;
      ?[fd]) problem "is ${kind[$y]:-"a device or a socket"} where ${kind[${part[$f]}]} belongs" ;;
      *) problem "is not part of a$([ "$unsigned" = 0 ] || echo "n unsigned") release (only ${names[*]}, SHA256SUMS, BUILD.txt and, signed, signatures/<each>.p7s belong)" ;;
    esac
  done < <(find "$dir" -mindepth 1 -printf '%y %n %P\0')
  [ -f "$dir/SHA256SUMS" ] && [ -f "$dir/BUILD.txt" ] || { f=$dir; problem "holds no SHA256SUMS and BUILD.txt"; }
  [ "$bad" = 0 ] || { echo "release: check: $bad problems in $dir (above); nothing in it was read"; return 1; }
  tmp=$(mktemp -d) || return 1
  f=SHA256SUMS
  (cd "$dir" && sha256sum "${names[@]}") | cmp -s - "$dir/SHA256SUMS" || problem "it is not byte for byte what sha256sum writes for ${names[*]}"
  fp=$(sed -n 's/^signer certificate SHA-256 fingerprint: \([0-9A-F:]\{95\}\)$/\1/p' "$dir/BUILD.txt" | tr -d :)
  ! grep -q '^time stamp: none' "$dir/BUILD.txt" || ts=0
  f=BUILD.txt
  [ "$unsigned" = 0 ] || [ -z "$fp" ] || problem "it records a signed release: check it without --unsigned"
  [ "$unsigned" = 1 ] || [ -n "$fp" ] || problem "it records no signer certificate fingerprint, and the release is checked as signed"
  [ -z "$want" ] || [ "$fp" = "$want" ] || problem "it records the signer ${fp:-(none)}, not $want (--signer)"
  want=${want:-$fp}
  [ -z "$ca" ] || trust=(-CAfile "$ca" -TSA-CAfile "$ca")
  # shape P7S TIME-STAMPS: P7S is one signer's signature in DER, nothing appended, whose
  # unauthenticated attributes (printed last) are TIME-STAMPS (0 or 1) time stamps; else
  # says what it holds.
  shape() {
    [ -f "$1" ] && openssl pkcs7 -inform DER -in "$1" -outform DER 2>/dev/null | cmp -s - "$1" || { echo "it is missing, or not a signature in DER alone"; return 1; }
    openssl pkcs7 -inform DER -in "$1" -print | awk -v ts="$2" '/^        issuer_and_serial:/ { s++ } /^        unauth_attr:$/ { u = 1 }
      u && /^            object: / { n++; o = o " " $NF; t += $NF == "(1.3.6.1.4.1.311.3.3.1)" }
      END { if (s == 1 && n == ts && t == ts) exit; printf "it holds %d signer(s)%s", s, s == 1 ? ", unauthenticated attributes:" (n ? o : " none") : ""; exit 1 }'
  }
  for f in "${names[@]}"; do
    file=$dir/$f
    sum=$(sha256sum <"$file" | cut -d' ' -f1)
    grep -qxF "$sum  $f" "$dir/SHA256SUMS" || problem "its SHA-256 sum is not the one in SHA256SUMS"
    if [ "$unsigned" = 0 ]; then
      qv_extract "$file" "$tmp/$f.p7s" 2>/dev/null || { problem "it carries no signature, and the release is checked as signed (--unsigned: you expect it unsigned)"; continue; }
      why=$(shape "$dir/signatures/$f.p7s" "$ts") ||
        problem "its signature is not one signer's with only the time stamp BUILD.txt announces (signatures/$f.p7s: $why)"
      osslsigncode verify "${trust[@]}" ${want:+-require-leaf-hash "sha256:$want"} -in "$file" >"$tmp/verify" 2>&1 ||
        problem "its signature does not verify ($(sed -n 's/.*Calculated message digest.*MISMATCH.*/the file changed after signing/p
          s/^Leaf hash match: failed.*/it is not by the expected signer certificate/p; s/.*\(Verify error: .*\)/\1/p
          ' "$tmp/verify" | head -n 1)$(sed -n 's/^[[:space:]]*Subject: */; signer: /p' "$tmp/verify" | head -n 1))"
      ! grep -qiE 'timestamp.*fail|fail.*timestamp' "$tmp/verify" || problem "its time stamp does not verify"
      when=${when:-$(sed -n 's/^Signature verification time: //p' "$tmp/verify" | head -n 1)}
      osslsigncode remove-signature -in "$file" -out "$tmp/$f" >/dev/null 2>&1 && file=$tmp/$f &&
        qv_attach "$dir/signatures/$f.p7s" "$file" "$tmp/$f.signed" "$tmp/attach.log" && cmp -s "$tmp/$f.signed" "$dir/$f" ||
        problem "it is not its unsigned file with signatures/$f.p7s attached"
      sum=$(sha256sum <"$file" | cut -d' ' -f1)
    fi
    grep -qxF "unsigned sha256: $sum  $f" "$dir/BUILD.txt" || problem "its unsigned file is not the one whose sum BUILD.txt records"
  done
  [ "$unsigned" = 1 ] || for f in SHA256SUMS BUILD.txt; do
    why=$(shape "$dir/signatures/$f.p7s" 0) && why=$(openssl cms -verify -binary -inform DER -in "$dir/signatures/$f.p7s" -content "$dir/$f" \
      -purpose any ${ca:+-CAfile "$ca"} ${when:+-attime "$(date -d "$when" +%s)"} -signer "$tmp/by.pem" -out /dev/null 2>&1) &&
      why="signer: $(openssl x509 -in "$tmp/by.pem" -noout -subject -fingerprint -sha256 | tr '\n' ' ')" &&
      [ "$(sed -n 's/.*Fingerprint=//p' <<<"$why" | tr -d ': ')" = "$want" ] ||
      problem "it is not what the expected signer signed (signatures/$f.p7s: $(grep -o 'Verify error:.*\|verification failure\|^it .*\|signer: .*' <<<"$why" | head -n 1))"
  done
  rm -rf "$tmp"
  [ "$bad" = 0 ] || { echo "release: check: $bad problems in $dir (above)"; return 1; }
  if [ "$unsigned" = 0 ]; then echo "release: check: $dir passed: each file, SHA256SUMS and BUILD.txt signed by the certificate $want ($([ -n "$3" ] && echo "as given with --signer" || echo "as BUILD.txt records; --signer checks it against the one the publisher states")), verified against ${ca:-"this machine's trust store"}"
  else echo "release: check: $dir passed as unsigned, as asked: this proves only that the files match the folder's own SHA256SUMS and BUILD.txt, which whoever edits the folder writes; not who made them"; fi
}

# --check: the published folder alone, nothing built.
if [ "$mode" = check ]; then
  command -v osslsigncode >/dev/null || fail "osslsigncode is missing (bash scripts/install-deps.sh installs it)"
  [ "$unsigned" = 0 ] || [ -z "$ca$signer" ] || fail "--unsigned checks a release expected unsigned: it takes no CA file or --signer"
  [ -z "$ca" ] || { [ -f "$ca" ] && [ -r "$ca" ] && openssl x509 -in "$ca" -noout 2>/dev/null; } || fail "the CA file $ca is not a readable file of PEM certificates"
  check_release "$published" "$ca" "$signer" "$unsigned" || fail "$published is not the release it says it is"
  exit 0
fi

[ "$mode" = attach ] || { mkdir -p -- "$dist" && dist=$(cd -- "$dist" && pwd); } || fail "cannot make $dist"
mkdir -p -- "$builds" && builds=$(cd -- "$builds" && pwd) || fail "cannot make $builds"
cd "$root"
stage=0 stages=$([ "$mode" = release ] && echo 7 || echo 4)
progress() { stage=$((stage + 1)); echo "release: [$stage/$stages] $*"; }

progress "checking the work tree and the signing input"
changes=$(git status --porcelain) || fail "$root is not a git work tree"
commit=$(git rev-parse HEAD) || fail "no commit to release"
name=qv-$(git rev-parse --short=12 HEAD)
state="clean work tree"
if [ -n "$changes" ]; then
  if [ "$allow_dirty" != 1 ]; then
    echo "$changes" | head -n 20 >&2
    fail "the work tree has uncommitted changes (above); commit them first, or pass --allow-dirty for a build that is not a release"
  fi
  name=$name-dirty
  state="work tree with uncommitted changes in $(wc -l <<<"$changes") files"
  echo "release: building a work tree with uncommitted changes, as asked"
fi
if [ "$mode" = attach ]; then
  made_from=$(sed -n 's/^source commit: \([0-9a-f]*\).*/\1/p' "$published/BUILD.txt" 2>/dev/null)
  [ "$made_from" = "$commit" ] ||
    fail "$published was built from commit ${made_from:-(none named in its BUILD.txt)}, this tree is at $commit: check that commit out first"
  sign=0 && [ ! -d "$published/signatures" ] || sign=1
else
  qv_check_sign_input || exit 1
fi

files=(tool/QV_InternalTool.exe plugin/QV_PLUGIN.dll)

# Configures and builds the two deliverables in a fresh folder $builds/$1, in
# an environment of PATH and HOME only: no build flags, CMake variables or
# compiler launcher (a release is compiled, never cached) reach the bytes.
build() {
  local dir=$builds/$1 log=$builds/$1.log
  progress "building in $dir (log $log)"
  rm -rf "$dir"
  if ! { env -i PATH="$PATH" HOME="$HOME" cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/$toolchain" &&
         env -i PATH="$PATH" HOME="$HOME" cmake --build "$dir" -j "$(nproc)" --target QV_InternalTool QV_PLUGIN; } >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    fail "the build in $dir failed (log $log)"
  fi
}
build first
# A second folder whose path differs in length too: no build path may reach the
# bytes. --attach builds once: its comparison with the published files is the
# check of the same bytes from another build.
if [ "$mode" = release ]; then
  build second-build
  progress "comparing the two builds"
  for f in "${files[@]}"; do
    cmp "$builds/first/$f" "$builds/second-build/$f" >&2 ||
      fail "$(basename "$f") differs between two clean builds ($builds/first/$f, $builds/second-build/$f)"
  done
fi

progress "PE checks"
python=$(command -v /usr/bin/python3 || command -v python3)
pe_log=$builds/pe-checks.log tool=$builds/first/${files[0]} plugin=$builds/first/${files[1]}
if ! "$python" tests/pe/pe_checks.py --tool "$tool" --plugin "$plugin" ToolImage PluginImage NoSymbolTable WindowsFloor \
     >"$pe_log" 2>&1; then
  tail -n 30 "$pe_log" >&2
  fail "PE checks (log $pe_log)"
fi

# The files as published: signed copies in $builds/signed, or the built ones.
signed=$builds/signed
rm -rf "$signed"
mkdir -p "$signed/signatures" || fail "cannot make $signed"
if [ "$mode" = attach ]; then
  progress "attaching the signatures of $published"
  for f in "$tool" "$plugin"; do
    n=${f##*/}
    if [ "$sign" = 0 ]; then cp "$f" "$signed/$n" || fail "cannot copy $n to $signed"
    else qv_attach "$published/signatures/$n.p7s" "$f" "$signed/$n" "$builds/attach-$n.log" ||
      fail "cannot attach $published/signatures/$n.p7s to $n (log $builds/attach-$n.log)"; fi
  done
  differ=()
  for n in "${names[@]}"; do cmp -s "$signed/$n" "$published/$n" || differ+=("$n"); done
  ((${#differ[@]} == 0)) || fail "${differ[*]}: this tree's build with the published signatures attached is not the published file (ours: $signed)"
  echo "release: done: this tree's build with the signatures attached equals ${names[*]} of $published byte for byte"
  exit 0
fi
if [ "$sign" = 1 ]; then
  progress "signing (log $builds/sign.log)"
  : >"$builds/sign.log"
  for f in "$tool" "$plugin"; do
    qv_sign "$f" "$signed/${f##*/}" "$signed/signatures/${f##*/}.p7s" "$builds/sign.log" || exit 1
  done
else
  progress "not signing: no key given (QV_SIGN_KEY): the files are unsigned"
  cp "$tool" "$plugin" "$signed/" && rmdir "$signed/signatures" || fail "cannot copy the files to $signed"
fi

progress "writing $dist/$name"
# Each file's version, from its version resource: the PE checks have found it
# to be the one cmake/versions.cmake gives, as file and product version.
versions=$("$python" -B - "$tool" "$plugin" <<'PY'
import os, sys
sys.path.insert(0, os.path.join("tests", "pe"))
import pefile
from pe_checks import version_of
for path in sys.argv[1:]:
    file_version, product_version = version_of(pefile.PE(path))[:2]
    print("%s: file version %s, product version %s" % (os.path.basename(path), file_version, product_version))
PY
) || fail "cannot read the version resources"

# A tool's first --version line and the Debian package that holds it.
tool_version() {
  local path package
  path=$(readlink -f "$(command -v "$1")")
  package=$(dpkg -S "$path" 2>/dev/null | cut -d: -f1)
  # Run by the name it was found under: lld answers only as ld.lld.
  printf '%s' "$("$(command -v "$1")" --version | head -n 1 | sed 's/, using:$//')"
  [ -z "$package" ] || printf ' (Debian package %s %s)' "$package" "$(dpkg-query -W -f '${Version}' "$package")"
}
# The compiler as CMake found it, and the linker that compiler runs: GNU ld
# for GCC, lld for clang (the toolchain file's -fuse-ld=lld).
cxx=$(sed -n 's/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' "$builds"/first/CMakeFiles/*/CMakeCXXCompiler.cmake)
[ -x "$cxx" ] || fail "cannot tell which compiler CMake used (got '$cxx')"
if [ "$compiler" = clang ]; then ld=$(command -v ld.lld); else ld=$("$cxx" -print-prog-name=ld); fi

out=$dist/$name
rm -rf "$out.part"
# A release stopped from here on leaves no folder under its final name.
trap 'rm -rf "$out.part"' EXIT
cp -r "$signed" "$out.part" || fail "cannot copy $signed to $out.part"
(cd "$out.part" && sha256sum "${names[@]}" >SHA256SUMS) || fail "sha256sum"
signature=unsigned
[ "$sign" = 0 ] || signature="signed (Authenticode, SHA-256) by $qv_signer
signer certificate SHA-256 fingerprint: $qv_signer_fingerprint
time stamp: ${QV_SIGN_TIMESTAMP_URL:-none (the signatures stop being valid when the certificate expires)}
signing tool: $(tool_version osslsigncode)"
cat >"$out.part/BUILD.txt" <<EOF
Quarn QV companions, release $name

source commit: $commit ($state)
$versions
compiler: $(tool_version "$cxx")
linker: $(tool_version "$ld")
CMake: $(tool_version cmake)
$(cd "$builds/first" && sha256sum "${files[@]}" | sed 's|^\([0-9a-f]*\)  .*/|unsigned sha256: \1  |')
$signature

Built twice from clean build folders (Windows build, $toolchain,
Ninja, an environment of PATH and HOME only) with identical bytes; PE checks
passed. Check the whole release, signatures included, with
bash scripts/release.sh --check <this folder> $([ "$sign" = 0 ] && echo --unsigned || echo "[CA-FILE] --signer <the fingerprint the publisher states>").
EOF
[ "$sign" = 0 ] || qv_sign_record "$out.part" "$builds/sign.log" || exit 1
# The folder as written must pass the check, signed by QV_SIGN_CERT against its chain and the trust store.
[ "$sign" = 0 ] || cat "$QV_SIGN_CERT" /etc/ssl/certs/ca-certificates.crt >"$builds/trust.pem" 2>/dev/null
check_release "$out.part" "$([ "$sign" = 0 ] || echo "$builds/trust.pem")" "$(tr -d : <<<"${qv_signer_fingerprint:-}")" $((1 - sign)) || fail "$out.part does not pass the check; $dist is left as it was"
rm -rf "$out" && mv "$out.part" "$out" || fail "cannot move $out.part to $out"
trap - EXIT

echo "release: done: $out ($(if [ "$sign" = 1 ]; then echo "signed by $qv_signer${QV_SIGN_TIMESTAMP_URL:+, time-stamped}; publish its certificate's fingerprint $qv_signer_fingerprint apart from it, for --check --signer"; else echo unsigned; fi))"
[ "$sign" = 0 ] || [ -n "${QV_SIGN_TIMESTAMP_URL:-}" ] ||
  echo "release: the signatures carry no time stamp (no QV_SIGN_TIMESTAMP_URL): they stop being valid when the certificate expires"
sed 's/^/release:   /' "$out/SHA256SUMS"
