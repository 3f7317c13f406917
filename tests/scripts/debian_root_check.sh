#!/usr/bin/env bash
# The check that a cached Debian root (scripts/debian-root.sh) makes before
# each use: a root just described passes, with a disk image among its files
# and a file whose name ends in .img that is no disk image (a guest's
# initrd.img); a changed file, a changed folder and a missing manifest are
# each reported. Runs anywhere, without Wine; the disk image needs
# mkfs.ext4 and is left out without it.
#
#   bash tests/scripts/debian_root_check.sh
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
qv_who=debian-root-check
# shellcheck source=../../scripts/debian-root.sh
source "$root/scripts/debian-root.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
r=$work/root
failed=0

# expect WHAT PATTERN: the check's answer must contain PATTERN, or be empty
# when PATTERN is.
expect() {
  local got
  got=$(qv_root_problem "$r")
  if { [ -z "$2" ] && [ -n "$got" ]; } || { [ -n "$2" ] && [[ $got != *"$2"* ]]; }; then
    echo "debian-root-check: FAILED: $1: the check said '$got', expected '${2:-nothing}'"
    failed=1
  fi
}

mkdir -p "$r/tree/etc" "$r/tree/usr/bin"
echo 13.8 >"$r/tree/etc/debian_version"
printf '#!/bin/sh\n' >"$r/tree/usr/bin/tool"
ln -s tool "$r/tree/usr/bin/link"
head -c 4096 /dev/urandom >"$r/initrd.img"
if command -v mkfs.ext4 >/dev/null; then
  truncate -s 4M "$r/root.img" && mkfs.ext4 -q -F "$r/root.img" >/dev/null 2>&1 ||
    { echo "debian-root-check: FAILED: mkfs.ext4"; exit 1; }
else
  echo "debian-root-check: no mkfs.ext4 here: the disk image is left out"
fi
qv_describe "$r" >"$r/manifest"

expect "a root as described" ""

echo 13.10 >"$r/tree/etc/debian_version"
expect "a file of the folder changed in size" "the folder tree does not hold"
echo 13.8 >"$r/tree/etc/debian_version"
chmod 700 "$r/tree/usr/bin/tool"
expect "a file's mode changed" "the folder tree does not hold"
chmod 644 "$r/tree/usr/bin/tool"
rm "$r/tree/usr/bin/link"
expect "a link removed" "the folder tree does not hold"
ln -s tool "$r/tree/usr/bin/link"
expect "the folder as it was" ""

printf 'x' | dd of="$r/initrd.img" bs=1 seek=100 conv=notrunc status=none
expect "a file changed in place" "initrd.img is not the file it was"
qv_describe "$r" >"$r/manifest"
rm "$r/initrd.img"
expect "a file removed" "initrd.img is missing"

rm "$r/manifest"
expect "no manifest" "it has no manifest"

[ "$failed" = 0 ] && echo "debian-root-check: passed"
exit "$failed"
