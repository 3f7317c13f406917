#!/usr/bin/env bash
# The check that the cache of scripts/debian-root.sh (the emulated machine's
# guest, the Debian 13 root) makes before each use: an entry is made once and
# then used as it is; one whose file has changed since its making, or whose
# checksums are gone, is reported and made again; a new recipe makes a new
# entry and removes the old one once no run holds it. Runs anywhere, in a
# cache of its own.
#
#   bash tests/scripts/debian_root_check.sh
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
QV_VM_CACHE=$work/cache qv_who=cache-check qv_log=$work/make.log
# shellcheck source=../../scripts/debian-root.sh
source "$root/scripts/debian-root.sh"
made=0 failed=0
make_image() { made=$((made + 1)); echo "image $made" >"$1/root.img"; }

# expect WHAT RECIPE MADE PATTERN: takes the entry of RECIPE into use, as a
# run that ends at once; MADE entries must have been made so far, and the
# cache's message must contain PATTERN.
expect() {
  local out
  out=$(qv_cached check "$2" make_image; echo "made=$made")
  made=${out##*made=}
  if [ "$made" != "$3" ] || [[ $out != *"$4"* ]]; then
    echo "cache-check: FAILED: $1: made $made times (expected $3), the cache said: ${out%made=*}"
    failed=1
  fi
}

expect "a new entry" one 1 "making $QV_VM_CACHE/check-"
expect "the entry again" one 1 "using $QV_VM_CACHE/check-"
entry=$(echo "$QV_VM_CACHE"/check-*)
echo changed >>"$entry/root.img"
expect "its file changed" one 2 "is not what was made"
rm "$entry/B2SUMS"
expect "its checksums gone" one 3 "is not what was made"
exec {held}<"$entry" && flock -s "$held"
expect "a new recipe while a run uses the old entry" two 4 "making"
[ -e "$entry" ] || { echo "cache-check: FAILED: an entry in use was removed"; failed=1; }
exec {held}<&-
expect "another recipe" three 5 "making"
[ "$(cat "$QV_VM_CACHE"/check-*/root.img)" = "image 5" ] ||
  { echo "cache-check: FAILED: the entries of the old recipes are still there:" "$QV_VM_CACHE"/check-*; failed=1; }

[ "$failed" = 0 ] && echo "cache-check: passed"
exit "$failed"
