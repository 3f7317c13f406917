#!/usr/bin/env bash
# Installs what a Debian 12 or 13 machine lacks (another release: untested, it
# goes on): the cross compilers (mingw-w64 GCC; clang and lld), the native,
# fuzzing and signing tools, the locales; 32-bit Wine, Xvfb, ImageMagick where
# the kernel runs 32-bit code, else what the emulated machine needs (not with
# QV_NO_VM=1). Arguments: full
# (Wine anyway), vm (scripts/vm-run.sh's needs), root (debian13-run.sh's). An
# index apt cannot update is named, tried QV_APT_TRIES (4) times QV_APT_WAIT
# (30) s apart, then it installs what apt can; where that leaves out 32-bit
# Wine, runs in the next 30 min do not try it again. Log: <build>/install-deps.log.
#   bash scripts/install-deps.sh sources ARCHS <LIST: prints the apt sources
# LIST, or where only a security or updates index for ARCHS fails, the main
# suite alone and a "# without" line for each.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QV_BUILD_DIR:-$root/build} && log=$build/install-deps.log && mkdir -p "$build" || exit 1

# Runs one step, its output going to the log; on failure prints the log's
# tail and stops (with soft=1 returns 1 instead).
step() {
  echo "install-deps: $1" && echo "== $(date '+%F %T') $1" >>"$log" && "${@:2}" >>"$log" 2>&1 </dev/null && return 0
  [ -z "${soft:-}" ] || return 1
  tail -n 40 "$log" | sed 's/^/  /'
  echo "install-deps: FAILED: $1; full log in $log"
  exit 1
}

# apt-get update ARG..., again while an index fails (apt only warns of a mirror it cannot
# reach); "failed": "URL: apt's reason" of the last try. 0: updated, 1: an index failed, 2: apt failed.
update() {
  local try out rc
  for ((try = 1; ; try++)); do
    out=$(apt-get update -q "$@" 2>&1 </dev/null)
    rc=$? && echo "$out" >>"$log"
    failed=$(sed -nE '/^[EW]: Failed to fetch /{s/ \[IP: [^]]*\]$//;s/^[EW]: Failed to fetch ([^ ]+) +/\1: /p}' <<<"$out")
    [ -n "$failed" ] || return $((rc ? 2 : 0))
    ((try < ${QV_APT_TRIES:-4})) || return 1
    sed "s/^/install-deps: apt cannot update the index /;s/\$/; trying again in ${QV_APT_WAIT:-30} s ($((try + 1)) of ${QV_APT_TRIES:-4})/" <<<"$failed" >&2
    sleep "${QV_APT_WAIT:-30}"
  done
}

if [ "${1:-}" = sources ]; then
  list=$(grep .) && work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT && echo "$list" >"$work/sources.list" || exit 1
  update -o Dir::State::Lists="$work" -o Dir::Cache="$work" -o Dir::Etc::SourceList="$work/sources.list" \
    -o Dir::Etc::SourceParts=/nonexistent -o APT::Architectures="$2" -o Debug::NoLocking=1 \
    -o APT::Sandbox::User=root -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=
  case $? in 0) echo "$list"; exit 0 ;; 2) exit 1 ;; esac
  grep -Ev ' [^ ]+-(security|updates) ' <<<"$list"
  while read -r line; do
    suite=$(sed -n 's|^[^ ]*/dists/\([^/]*\)/.*|\1|p' <<<"$line")
    [[ $suite == *-security || $suite == *-updates ]] || { echo "install-deps: FAILED: apt cannot update the index $line" >&2; exit 1; }
    echo "install-deps: apt cannot update the index $line: going on with the main suite alone" >&2
    echo "# without $suite: $line"
  done <<<"$failed"
  exit 0
fi

release=$( (. /etc/os-release && echo "${ID:-?} ${VERSION_ID:-?}${VERSION_CODENAME:+ ($VERSION_CODENAME)}") 2>/dev/null || echo unknown)
[[ $release == "debian 1"[23]" "* ]] && echo "install-deps: Debian ${release#debian }" ||
  echo "install-deps: $release is untested (the scripts are tried on Debian 12 and 13); going on"
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
pkgs=(g++-mingw-w64-i686 cmake ninja-build ccache g++ clang lld libclang-rt-dev clang-tidy clang-format-19 googletest libbenchmark-dev
      locales python3 python3-pefile git openssl osslsigncode softhsm2 libengine-pkcs11-openssl)
wine=(wine wine32:i386 xvfb xauth x11-utils imagemagick strace)
vm=(debvm mmdebstrap qemu-system-x86 openssh-client debian-archive-keyring e2fsprogs util-linux)
emulated=("${vm[@]}") && [ "${QV_NO_VM:-0}" != 1 ] || emulated=()
if [ "${1:-}" != full ] && [ -n "$(find "$build/install-deps.no-wine" -mmin -30 2>/dev/null)" ]; then
  echo "install-deps: not tried again for 30 min: $(cat "$build/install-deps.no-wine")"; pkgs+=("${emulated[@]}")
elif [ "${1:-}" = full ] || bash "$root/scripts/probe-win32.sh" --kernel "$build" >/dev/null; then pkgs+=("${wine[@]}"); else
  echo "install-deps: this kernel runs no 32-bit code: no i386 architecture, no 32-bit Wine${emulated:+, but what the emulated machine needs}"
  pkgs+=("${emulated[@]}"); fi
for a in "$@"; do
  case $a in full) ;; vm) pkgs+=("${vm[@]}") ;; root) pkgs+=(mmdebstrap squashfs-tools debian-archive-keyring util-linux) ;;
    *) echo "install-deps: unknown argument '$a' (full, vm, root)"; exit 2 ;; esac
done
need=() rest=()
for p in "${pkgs[@]}"; do have "$p" || { need+=("$p") && [[ " ${wine[*]} " == *" $p "* ]] || rest+=("$p"); }; done

if ((${#need[@]})); then
  [[ " ${need[*]} " != *:i386* ]] || dpkg --print-foreign-architectures | grep -qx i386 ||
    { step "adding the i386 architecture" dpkg --add-architecture i386 && added=1; }
  export DEBIAN_FRONTEND=noninteractive && echo "install-deps: updating the package lists"
  update
  case $? in
    1) sed 's/^/install-deps: apt cannot update the index /;s/$/: going on with the lists apt has/' <<<"$failed"; stale=1 ;;
    2) step "updating the package lists" false ;;
  esac
  if ! soft=${stale:-} step "installing ${#need[@]} package(s): ${need[*]}" apt-get install -y -q --no-install-recommends "${need[@]}"; then
    # From a stale index, i386 libraries lag their amd64 twins: all but 32-bit Wine.
    [ "${#rest[@]}" != "${#need[@]}" ] || soft='' step "installing them" false
    echo "install-deps: 32-bit Wine cannot be installed from these lists: the Windows tests and the demo take the emulated machine"
    echo "32-bit Wine cannot be installed while apt cannot update ${failed%%$'\n'*}" >"$build/install-deps.no-wine"
    [ -z "${added:-}" ] || step "removing the i386 architecture again, which nothing uses" dpkg --remove-architecture i386
    soft='' step "installing ${rest[*]}${rest:+ }${emulated[*]}" apt-get install -y -q --no-install-recommends "${rest[@]}" "${emulated[@]}"
  fi
fi
! have wine || rm -f "$build/install-deps.no-wine"

# Wine reports the Russian UI language only when the locale exists.
enable_locale() {
  sed -i "s/^# *\($1 UTF-8\)/\1/" /etc/locale.gen && { grep -q "^$1 UTF-8" /etc/locale.gen || echo "$1 UTF-8" >>/etc/locale.gen; } && locale-gen
}
for l in ru_RU.UTF-8 en_US.UTF-8; do
  locale -a 2>/dev/null | grep -qix "${l%.UTF-8}.utf8" || step "generating the $l locale" enable_locale "$l"
done
echo "install-deps: all present"
