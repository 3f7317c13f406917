#!/usr/bin/env bash
# Installs what a fresh Debian 12 or 13 machine lacks for building and testing
# both deliverables (the i686 cross compiler, 32-bit Wine, Xvfb, the native
# test and fuzzing tools, osslsigncode, SoftHSM2 and OpenSSL's PKCS#11 engine,
# the Russian locale): only what is missing, from one package list for both
# releases; on another release it says that is untested and goes on.
# "vm": also what scripts/vm-run.sh needs (debvm, QEMU, ssh); "root": what
# scripts/debian13-run.sh needs (mmdebstrap, squashfs-tools). One line per
# step; apt's and locale-gen's words go to <build>/install-deps.log
# (QV_BUILD_DIR), whose last 40 lines are printed when a step fails.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
log=${QV_BUILD_DIR:-$root/build}/install-deps.log

# Runs one step, its output going to the log; on failure prints the log's tail and stops.
step() {
  local what=$1 rc
  shift
  echo "install-deps: $what"
  mkdir -p "${log%/*}" && echo "== $(date '+%F %T') $what" >>"$log" ||
    { echo "install-deps: FAILED: cannot write the log $log"; exit 1; }
  "$@" >>"$log" 2>&1 </dev/null && return 0
  rc=$?
  echo "install-deps: the last 40 lines of $log:"
  tail -n 40 "$log" | sed 's/^/  /'
  echo "install-deps: FAILED: $what (exit $rc); full log in $log"
  exit 1
}

release=$( (. /etc/os-release && echo "${ID:-?} ${VERSION_ID:-?}${VERSION_CODENAME:+ ($VERSION_CODENAME)}") 2>/dev/null || echo unknown)
case $release in
  "debian 12 "* | "debian 13 "*) echo "install-deps: Debian ${release#debian }" ;;
  *) echo "install-deps: $release is untested (the scripts are tried on Debian 12 and 13); going on" ;;
esac

have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

pkgs=(g++-mingw-w64-i686 wine wine32:i386 xvfb xauth x11-utils imagemagick
      cmake ninja-build ccache g++ clang libclang-rt-dev clang-tidy
      googletest libbenchmark-dev locales python3 python3-pefile git
      openssl osslsigncode softhsm2 libengine-pkcs11-openssl)
for a in "$@"; do
  case $a in
    vm) pkgs+=(debvm mmdebstrap qemu-system-x86 openssh-client debian-archive-keyring e2fsprogs util-linux) ;;
    root) pkgs+=(mmdebstrap squashfs-tools debian-archive-keyring util-linux) ;;
    *) echo "install-deps: unknown argument '$a' (vm, root)"; exit 2 ;;
  esac
done
need=()
for p in "${pkgs[@]}"; do have "$p" || need+=("$p"); done

if ((${#need[@]})); then
  dpkg --print-foreign-architectures | grep -qx i386 || step "adding the i386 architecture" dpkg --add-architecture i386
  export DEBIAN_FRONTEND=noninteractive
  step "updating the package lists" apt-get update -q
  n="${#need[@]} packages" && [ "${#need[@]}" != 1 ] || n="1 package"
  step "installing $n: ${need[*]}" apt-get install -y -q --no-install-recommends "${need[@]}"
fi

# Wine reports the Russian UI language only when the locale exists.
enable_locale() {
  sed -i "s/^# *\($1 UTF-8\)/\1/" /etc/locale.gen &&
    { grep -q "^$1 UTF-8" /etc/locale.gen || echo "$1 UTF-8" >>/etc/locale.gen; } &&
    locale-gen
}
for l in ru_RU.UTF-8 en_US.UTF-8; do
  locale -a 2>/dev/null | grep -qix "${l%.UTF-8}.utf8" || step "generating the $l locale" enable_locale "$l"
done
echo "install-deps: all present"
