#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building and testing both
# deliverables: the i686 cross compiler, Wine with its 32-bit part, Xvfb for
# the message box tests, the native test and fuzzing tools, and the Russian
# locale used by the Russian-interface runs. Safe to run again: it only
# installs packages that are missing.
#
# With the argument "vm" it also installs what the emulated machine of
# scripts/vm-run.sh needs (QEMU and debootstrap); the test and demo scripts
# ask for it only on a machine that cannot run 32-bit Windows programs
# directly (scripts/probe-win32.sh).
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

pkgs=(g++-mingw-w64-i686 wine wine32:i386 xvfb xauth x11-utils imagemagick
      cmake ninja-build g++ clang libclang-rt-14-dev clang-tidy
      googletest libbenchmark-dev locales python3 python3-pefile)
[ "${1:-}" != vm ] || pkgs+=(qemu-system-x86 debootstrap)
for p in "${pkgs[@]}"; do have "$p" || need+=("$p"); done

if ((${#need[@]})); then
  echo "install-deps: installing ${need[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${need[@]}"
fi

# Wine reports the Russian UI language only when the locale exists.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf8$'; then
  echo "install-deps: generating ru_RU.UTF-8"
  sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
if ! locale -a 2>/dev/null | grep -qi '^en_US\.utf8$'; then
  sed -i 's/^# *\(en_US.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^en_US.UTF-8 UTF-8' /etc/locale.gen || echo 'en_US.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
echo "install-deps: all present"
