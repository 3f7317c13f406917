# Sourced by scripts/vm-run.sh and scripts/debian13-run.sh: their cache, their
# Debian mirrors and their runs. The caller sets qv_who and qv_log.
qv_cache=${QV_VM_CACHE:-/var/cache/qv-vm}
qv_say() { echo "$qv_who: $*"; }
qv_fail() { echo "$qv_who: FAILED: $*"; exit 1; }

# The apt sources of SUITE on the Debian mirrors this machine's apt uses.
qv_sources() {
  [ -z "${QV_VM_MIRROR:-}" ] || { echo "deb $QV_VM_MIRROR $1 main"; return; }
  apt-get update --print-uris 2>/dev/null | awk -F"'" -v s="$1" '
    match($2, "/dists/(buster|bullseye|bookworm|trixie|forky|duke|sid|(old)*stable|testing|unstable)(-[a-z]+)?/InRelease$") {
      u = substr($2, 1, RSTART - 1)
      if ($2 ~ /-security\/InRelease$/) { if (!sec++) print "deb " u " " s "-security main" }
      else if (!main++) print "deb " u " " s " main\ndeb " u " " s "-updates main" }' | grep . ||
    { echo "$qv_who: this machine's apt lists no Debian mirror; name one with QV_VM_MIRROR=<Debian mirror URI>" >&2; return 1; }
}

# Sets qv_from to the apt sources (ARCHS) an entry of KIND and RECIPE is made
# from: SUITE's suites, or SUITE alone where a security or updates index fails
# (scripts/install-deps.sh sources, with "# without" lines), which it says.
# No mirror is asked while an entry made from all of them is cached.
qv_pick_sources() {
  local all main
  all=$(qv_sources "$1") && main=$(grep -Ev ' [a-z]+-(security|updates) ' <<<"$all") || exit 1
  qv_from=$all && [ ! -d "$qv_cache/$3-$(qv_key "$4" "$all")" ] || return 0
  [ ! -d "$qv_cache/$3-$(qv_key "$4" "$main")" ] || local QV_APT_TRIES=1   # made without them before: asked once
  qv_from=$({ QV_APT_TRIES=${QV_APT_TRIES:-4} bash "$(dirname "${BASH_SOURCE[0]}")/install-deps.sh" sources "$2" <<<"$all" \
    2>&1 >&3 | sed -u "s/^install-deps/$qv_who/" >&2; } 3>&1) || qv_fail "the mirror cannot give $1 (above)" >&2
  [ "$qv_from" = "$all" ] || qv_say >&2 "$3 is made from the main suite $1 alone; a run whose mirror is whole makes it again from all"
}
qv_key() { sha256sum <<<"$1$(grep '^deb' <<<"$2")" | cut -c1-16; }

# qv_cached KIND RECIPE MAKER: sets qv_entry to <cache>/KIND-<hash of RECIPE,
# qv_from>, made by MAKER (in a new folder, under a lock, moved into place when
# complete, its file "sources" naming qv_from) when missing or when its files
# lost the checksums of its making. Older recipes' entries go then, unless a
# run holds them as it holds this.
qv_cached() {
  local new=$qv_cache/.new-$1-$$ old start=$SECONDS
  qv_entry=$qv_cache/$1-$(qv_key "$2" "${qv_from:-}")
  mkdir -p "$qv_cache" && exec {qv_lock}>>"$qv_cache/lock-$1" || qv_fail "cannot use the cache $qv_cache (QV_VM_CACHE)"
  flock -n "$qv_lock" || { qv_say "waiting for another run, which makes or checks $qv_cache/$1-*"; flock "$qv_lock"; }
  if [ -d "$qv_entry" ] && (cd "$qv_entry" && b2sum --quiet --strict -c B2SUMS >/dev/null 2>&1); then
    qv_say "using $qv_entry (checked in $((SECONDS - start)) s)"
  else
    [ ! -d "$qv_entry" ] || qv_say "$qv_entry is not what was made (checksums): it is made again"
    rm -rf --one-file-system "$qv_entry" "$qv_cache/.new-$1"-* && mkdir -p "$new" && trap "rm -rf --one-file-system '$new'" EXIT
    qv_say "making $qv_entry (once per machine), log in $qv_log"
    echo "${qv_from:-}" >"$new/sources" && "$3" "$new" > >(tee "$qv_log" | grep --line-buffered '^install-deps: ') 2>&1 &&
      (cd "$new" && b2sum -- * >B2SUMS) && mv "$new" "$qv_entry" ||
      { tail -n 20 "$qv_log" | sed 's/^/  /'; qv_fail "making $qv_entry failed; log in $qv_log"; }
    trap - EXIT
    qv_say "made in $((SECONDS - start)) s ($(du -sm "$qv_entry" | cut -f1) MB)"
    for old in "$qv_cache/$1"-*; do [ "$old" = "$qv_entry" ] || flock -xn "$old" rm -rf --one-file-system "$old"; done
  fi
  exec {qv_in_use}<"$qv_entry" && flock -s "$qv_in_use" && flock -u "$qv_lock"
}

# Sets qv_shares to the folders a run shares at the same path: the work tree
# ROOT, the build folder BUILD and the git folder; the current folder in one.
qv_share_folders() {
  local git_dir s
  qv_shares=("$1")
  [[ $2/ == "$1"/* ]] || qv_shares+=("$2")
  if git_dir=$(git -C "$1" rev-parse --path-format=absolute --git-common-dir 2>/dev/null) &&
    git_dir=$(cd "$git_dir" && pwd -P) && [[ $git_dir/ != "$1"/* && $git_dir/ != "$2"/* ]]; then qv_shares+=("$git_dir"); fi
  for s in "${qv_shares[@]}"; do [[ $(pwd -P)/ != "$s"/* ]] || return 0; done
  qv_fail "the current folder $(pwd -P) is not shared with the run (${qv_shares[*]})"
}

# A job: passes on QV_*, CI, the locale and NAME=VALUE..., runs -- COMMAND here.
qv_job() {
  local v
  for v in LANG LANGUAGE LC_ALL CI $(compgen -e | grep '^QV_'); do [ -z "${!v+set}" ] || printf 'export %s=%q\n' "$v" "${!v}"; done
  while [ "$1" != -- ]; do printf 'export %q\n' "$1"; shift; done
  printf 'cd %q || exit 1\n' "$(pwd -P)"
  shift && printf '%q ' "$@"
}

# Runs this script again with --inside ARG... in PID and mount namespaces of
# its own and exits with its status. All in them ends when this script is
# stopped or killed: the namespace's first process dies with it.
qv_in_namespace() {
  setpriv --pdeathsig KILL unshare --pid --fork --kill-child --mount --propagation private bash "$0" --inside "$@" <&0 &
  local pid=$!
  trap 'kill -KILL $pid 2>/dev/null; exit 130' INT
  trap 'kill -KILL $pid 2>/dev/null; exit 143' TERM HUP
  wait $pid
  exit
}
