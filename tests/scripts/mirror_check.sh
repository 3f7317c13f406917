#!/usr/bin/env bash
# A Debian mirror mid-update, on 127.0.0.1: an index whose size no longer
# matches its Release file, as apt sees it while the mirror syncs. Checks
# what "scripts/install-deps.sh sources" makes of it (the index and apt's
# reason named, tried again, the security suite left out, any other suite
# fatal) and how scripts/debian-root.sh picks the sources of a cache entry
# (none asked while an entry made from all suites is cached; made again
# from all of them once the mirror is whole). Needs apt and Python, no root.
#
#   bash tests/scripts/mirror_check.sh
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d) server=
trap '[ -z "$server" ] || kill "$server"; rm -rf "$work"' EXIT
export QV_BUILD_DIR=$work/build QV_APT_TRIES=2 QV_APT_WAIT=0
failed=0
fail() { echo "mirror-check: FAILED: $*"; failed=1; }

# One suite with one index of one package; its Release file lists the index.
suite() {
  local dir=$work/mirror/dists/$1
  mkdir -p "$dir/main/binary-amd64"
  printf 'Package: qv-fixture\nVersion: 1\nArchitecture: amd64\n\n' >"$dir/main/binary-amd64/Packages"
  printf 'Suite: %s\nCodename: %s\nDate: %s\nArchitectures: amd64\nComponents: main\nSHA256:\n %s %s main/binary-amd64/Packages\n' \
    "$1" "$1" "$(date -Ru)" "$(sha256sum <"$dir/main/binary-amd64/Packages" | cut -c1-64)" \
    "$(stat -c %s "$dir/main/binary-amd64/Packages")" >"$dir/Release"
}
# The mirror syncs SUITE: its index is newer than its Release file says.
mid_update() { echo "Package: qv-newer" >>"$work/mirror/dists/$1/main/binary-amd64/Packages"; }
for s in bookworm bookworm-security bookworm-updates; do suite "$s"; done
mid_update bookworm-security

python3 -u -m http.server -b 127.0.0.1 -d "$work/mirror" 0 >"$work/server.log" 2>&1 &
server=$!
for _ in $(seq 50); do grep -q 'port [0-9]' "$work/server.log" && break; sleep 0.1; done
port=$(sed -n 's/.* port \([0-9]*\) .*/\1/p' "$work/server.log")
[ -n "$port" ] || { echo "mirror-check: FAILED: no local mirror: $(cat "$work/server.log")"; exit 1; }
url=http://127.0.0.1:$port/
all="deb [trusted=yes] $url bookworm main
deb [trusted=yes] $url bookworm-security main
deb [trusted=yes] $url bookworm-updates main"

out=$(bash "$root/scripts/install-deps.sh" sources amd64 <<<"$all" 2>"$work/err")
index="${url}dists/bookworm-security/main/binary-amd64/Packages"
[ "$(grep -c "^install-deps: apt cannot update the index $index: File has unexpected size" "$work/err")" = 2 ] ||
  fail "the failing index is not named with apt's reason, once per try: $(cat "$work/err")"
grep -q "trying again in 0 s (2 of 2)$" "$work/err" || fail "no second try: $(cat "$work/err")"
[ "$(grep -v '^#' <<<"$out")" = "$(head -n 1 <<<"$all")" ] || fail "the sources are not the main suite alone: $out"
grep -q "^# without bookworm-security: $index: File has unexpected size ([0-9]* != [0-9]*)" <<<"$out" ||
  fail "the sources do not say what was left out and why: $out"

mid_update bookworm
bash "$root/scripts/install-deps.sh" sources amd64 <<<"$all" >"$work/out" 2>"$work/err" &&
  fail "a main suite mid-update was left out: $(cat "$work/out")"
grep -q "^install-deps: FAILED: apt cannot update the index ${url}dists/bookworm/main" "$work/err" ||
  fail "a main suite mid-update is not named: $(cat "$work/err")"
suite bookworm

# The cache's choice, with this mirror as the one this machine's apt uses.
QV_VM_CACHE=$work/cache qv_who=mirror-check qv_log=$work/make.log
# shellcheck source=../../scripts/debian-root.sh
source "$root/scripts/debian-root.sh"
listed=$all && qv_sources() { echo "$listed"; }
made() { echo made >"$1/image"; }
pick() { qv_from= && qv_pick_sources bookworm amd64 guest recipe 2>"$work/err"; }

pick
grep -q "^mirror-check: guest is made from the main suite bookworm alone" "$work/err" || fail "no word of the suite left out: $(cat "$work/err")"
(qv_cached guest recipe made >/dev/null) && grep -q "^# without bookworm-security" "$work"/cache/guest-*/sources ||
  fail "the entry does not name what it was made from: $(cat "$work"/cache/guest-*/sources)"
pick
[ "$(grep -c 'apt cannot update' "$work/err")" = 1 ] || fail "made without it before, the mirror is not asked once: $(cat "$work/err")"

suite bookworm-security
pick
[ "$qv_from" = "$all" ] || fail "the mirror is whole again, yet the sources are: $qv_from"
(qv_cached guest recipe made >/dev/null) && [ "$(cat "$work"/cache/guest-*/sources)" = "$all" ] ||
  fail "not made again from all suites: $(ls "$work/cache")"
mid_update bookworm-security
pick
[ "$qv_from" = "$all" ] && [ ! -s "$work/err" ] || fail "with an entry of all suites cached, the mirror was asked: $(cat "$work/err")"

[ "$failed" = 0 ] && echo "mirror-check: passed"
exit "$failed"
