#!/usr/bin/env bash
# Installs what a fresh Debian 12 or 13 machine lacks (only what is missing,
# one package list for both; another release is untested: it says so and goes
# on): the i686 cross compiler, the native test and fuzzing tools, the signing
# tools, the locales; 32-bit Wine, Xvfb and ImageMagick only where the kernel
# runs 32-bit code, else what the emulated machine needs (none with QV_NO_VM=1).
# "full": all of it anyway; "vm": what scripts/vm-run.sh needs; "root": what
# scripts/debian13-run.sh needs. An index apt cannot update is named with apt's
# reason and tried QV_APT_TRIES (4) times QV_APT_WAIT (30) s apart; then it
# installs what apt still can, without 32-bit Wine if need be. One line per
# step; apt's words go to <build>/install-deps.log (QV_BUILD_DIR).
#   bash scripts/install-deps.sh sources ARCHS <LIST: prints the apt sources
# LIST when their indexes for ARCHS update, else when only a security or
# updates index fails the main suite alone, with a "# without" line for each.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QV_BUILD_DIR:-$root/build} && log=$build/install-deps.log

# Runs one step, its output going to the log; on failure prints the log's
# tail and stops (with soft=1 returns 1 instead).
step() {
  local what=$1 rc
  shift
  echo "install-deps: $what"
  mkdir -p "$build" && echo "== $(date '+%F %T') $what" >>"$log" ||
    { echo "install-deps: FAILED: cannot write the log $log"; exit 1; }
  "$@" >>"$log" 2>&1 </dev/null && return 0
  rc=$?
  [ -z "${soft:-}" ] || return 1
  echo "install-deps: the last 40 lines of $log:"
  tail -n 40 "$log" | sed 's/^/  /'
  echo "install-deps: FAILED: $what (exit $rc); full log in $log"
  exit 1
}

# apt-get update ARG..., again while an index fails; sets "failed" to the last
# failures ("URL: apt's reason"). 0: updated, 1: an index failed, 2: apt failed.
update() {
  local try out rc
  for ((try = 1; ; try++)); do
    out=$(apt-get update -q "$@" 2>&1 </dev/null)
    rc=$? && mkdir -p "$build" && echo "$out" >>"$log"
    # A mirror that cannot be reached is only a warning to apt: that fails too.
    failed=$(sed -nE '/^[EW]: Failed to fetch /{s/ \[IP: [^]]*\]$//;s/^[EW]: Failed to fetch ([^ ]+) +/\1: /p}' <<<"$out")
    [ -n "$failed" ] || return $((rc ? 2 : 0))
    ((try < ${QV_APT_TRIES:-4})) || return 1
    sed "s/^/install-deps: apt cannot update the index /;s/\$/; trying again in ${QV_APT_WAIT:-30} s ($((try + 1)) of ${QV_APT_TRIES:-4})/" <<<"$failed" >&2
    sleep "${QV_APT_WAIT:-30}"
  done
}

if [ "${1:-}" = sources ]; then
  list=$(grep .) && work=$(mktemp -d) || exit 1
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/lists/partial" && echo "$list" >"$work/sources.list"
  update -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work" -o Dir::Etc::SourceList="$work/sources.list" \
    -o Dir::Etc::SourceParts=/nonexistent -o APT::Architectures="$2" -o Debug::NoLocking=1 \
    -o APT::Sandbox::User=root -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=
  case $? in 0) echo "$list"; exit 0 ;; 2) exit 1 ;; esac
  while read -r line; do
    suite=$(sed -n 's|^[^ ]*/dists/\([^/]*\)/.*|\1|p' <<<"$line")
    [[ $suite == *-security || $suite == *-updates ]] ||
      { echo "install-deps: FAILED: apt cannot update the index $line" >&2; exit 1; }
    echo "install-deps: apt cannot update the index $line: going on with the main suite alone" >&2
    without+=$'\n'"# without $suite: $line"
  done <<<"$failed"
  grep -Ev ' [^ ]+-(security|updates) ' <<<"$list"
  echo "${without#?}"
  exit 0
fi

release=$( (. /etc/os-release && echo "${ID:-?} ${VERSION_ID:-?}${VERSION_CODENAME:+ ($VERSION_CODENAME)}") 2>/dev/null || echo unknown)
case $release in
  "debian 12 "* | "debian 13 "*) echo "install-deps: Debian ${release#debian }" ;;
  *) echo "install-deps: $release is untested (the scripts are tried on Debian 12 and 13); going on" ;;
esac

have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

pkgs=(g++-mingw-w64-i686 cmake ninja-build ccache g++ clang libclang-rt-dev clang-tidy
      googletest libbenchmark-dev locales python3 python3-pefile git
      openssl osslsigncode softhsm2 libengine-pkcs11-openssl)
wine=(wine wine32:i386 xvfb xauth x11-utils imagemagick)
vm=(debvm mmdebstrap qemu-system-x86 openssh-client debian-archive-keyring e2fsprogs util-linux)
emulated=("${vm[@]}") && [ "${QV_NO_VM:-0}" != 1 ] || emulated=()
if [ "${1:-}" = full ] || bash "$root/scripts/probe-win32.sh" --kernel "$build" >/dev/null; then
  pkgs+=("${wine[@]}")
else
  echo "install-deps: this kernel runs no 32-bit code: no i386 architecture, no 32-bit Wine${emulated:+, but what the emulated machine needs}"
  pkgs+=("${emulated[@]}")
fi
for a in "$@"; do
  case $a in
    full) ;;
    vm) pkgs+=("${vm[@]}") ;;
    root) pkgs+=(mmdebstrap squashfs-tools debian-archive-keyring util-linux) ;;
    *) echo "install-deps: unknown argument '$a' (full, vm, root)"; exit 2 ;;
  esac
done
need=()
for p in "${pkgs[@]}"; do have "$p" || need+=("$p"); done

if ((${#need[@]})); then
  [[ " ${need[*]} " != *:i386* ]] || dpkg --print-foreign-architectures | grep -qx i386 ||
    step "adding the i386 architecture" dpkg --add-architecture i386
  export DEBIAN_FRONTEND=noninteractive
  echo "install-deps: updating the package lists"
  update
  case $? in
    1) sed 's/^/install-deps: apt cannot update the index /;s/$/: going on with the lists apt has/' <<<"$failed"; soft=1 ;;
    2) step "updating the package lists" false ;;
  esac
  rest=() && for p in "${need[@]}"; do [[ " ${wine[*]} " == *" $p "* ]] || rest+=("$p"); done
  n="${#need[@]} packages" && [ "${#need[@]}" != 1 ] || n="1 package"
  if ! step "installing $n: ${need[*]}" apt-get install -y -q --no-install-recommends "${need[@]}"; then
    # The i386 libraries of a stale index lag their amd64 twins: all but 32-bit Wine.
    [ "${#rest[@]}" != "${#need[@]}" ] || soft= step "installing $n" false
    echo "install-deps: 32-bit Wine cannot be installed from these lists; the Windows tests and the demo take the emulated machine"
    echo "32-bit Wine cannot be installed while apt cannot update ${failed%%$'\n'*}" >"$build/install-deps.no-wine"
    rest+=("${emulated[@]}")
    soft= step "installing ${#rest[@]} packages: ${rest[*]}" apt-get install -y -q --no-install-recommends "${rest[@]}"
  fi
fi
! have wine || rm -f "$build/install-deps.no-wine"

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
