# Sourced by scripts/vm-run.sh (the emulated machine's guest, made by
# debvm-create) and scripts/debian13-run.sh (the Debian 13 root, made by
# mmdebstrap): their machine-wide cache, the Debian mirrors they are made
# from, and what a run of a command in them shares. The caller sets qv_who
# (its name in messages) and qv_log (the log of a making).
qv_cache=${QV_VM_CACHE:-/var/cache/qv-vm}
qv_say() { echo "$qv_who: $*"; }
qv_fail() { echo "$qv_who: FAILED: $*"; exit 1; }

# The apt sources lines of SUITE (main, -updates, -security) on the Debian
# mirrors this machine's apt uses, whatever Debian suite it lists them for.
qv_sources() {
  [ -z "${QV_VM_MIRROR:-}" ] || { echo "deb $QV_VM_MIRROR $1 main"; return; }
  apt-get update --print-uris 2>/dev/null | awk -F"'" -v s="$1" '
    match($2, "/dists/(buster|bullseye|bookworm|trixie|forky|duke|sid|(old)*stable|testing|unstable)(-[a-z]+)?/InRelease$") {
      uri = substr($2, 1, RSTART - 1)
      if ($2 ~ /-security\/InRelease$/) { if (!sec++) print "deb " uri " " s "-security main" }
      else if (!main++) print "deb " uri " " s " main\ndeb " uri " " s "-updates main" }' | grep . ||
    { echo "$qv_who: this machine's apt lists no Debian mirror; name one with QV_VM_MIRROR=<Debian mirror URI>" >&2; return 1; }
}

# qv_cached KIND RECIPE MAKER: sets qv_entry to <cache>/KIND-<hash of
# RECIPE>, a folder made by MAKER (called with a new folder to fill, its
# output going to $qv_log) when missing, or made again when its files no
# longer have the checksums recorded at its making. Under a lock of the
# cache, in a temporary folder moved into place when complete; folders of
# KIND's older recipes that no run uses go then. The run holds a shared lock
# on the folder while it uses it.
qv_cached() {
  local kind=$1 maker=$3 new old start=$SECONDS
  qv_entry=$qv_cache/$kind-$(sha256sum <<<"$2" | cut -c1-16)
  mkdir -p "$qv_cache" && exec {qv_lock}>>"$qv_cache/lock-$kind" ||
    qv_fail "cannot use the cache $qv_cache (QV_VM_CACHE)"
  flock -n "$qv_lock" || { qv_say "waiting for another run, which makes or checks $qv_cache/$kind-*"; flock "$qv_lock"; }
  if [ -d "$qv_entry" ] && ! (cd "$qv_entry" && b2sum --quiet --strict -c B2SUMS >/dev/null 2>&1); then
    qv_say "$qv_entry is not what was made (checksum): it is made again"
    rm -rf --one-file-system "$qv_entry"
  fi
  if [ ! -d "$qv_entry" ]; then
    rm -rf --one-file-system "$qv_cache/.new-$kind"-*
    new=$qv_cache/.new-$kind-$$
    mkdir -p "$new" && trap "rm -rf --one-file-system '$new'" EXIT
    qv_say "making $qv_entry (once per machine), log in $qv_log"
    "$maker" "$new" > >(tee "$qv_log" | grep --line-buffered '^install-deps: ') 2>&1 &&
      (cd "$new" && b2sum -- * >B2SUMS) && mv "$new" "$qv_entry" ||
      { tail -n 20 "$qv_log" | sed 's/^/  /'; qv_fail "making $qv_entry failed; log in $qv_log"; }
    trap - EXIT
    qv_say "made in $((SECONDS - start)) s ($(du -sm "$qv_entry" | cut -f1) MB)"
    for old in "$qv_cache/$kind"-*; do
      [ "$old" = "$qv_entry" ] || flock -xn "$old" rm -rf --one-file-system "$old"
    done
  else
    qv_say "using $qv_entry (checked in $((SECONDS - start)) s)"
  fi
  exec {qv_in_use}<"$qv_entry" && flock -s "$qv_in_use" && flock -u "$qv_lock"
}

# Sets qv_shares to the folders shared with a run at the same path: the work
# tree ROOT, and the build folder BUILD and the git common folder when they
# lie outside it. The current folder must lie in one of them.
qv_share_folders() {
  local git_dir s
  qv_shares=("$1")
  case $2/ in "$1"/*) ;; *) qv_shares+=("$2") ;; esac
  git_dir=$(git -C "$1" rev-parse --path-format=absolute --git-common-dir 2>/dev/null) && git_dir=$(cd "$git_dir" && pwd -P) &&
    case $git_dir/ in "$1"/* | "$2"/*) ;; *) qv_shares+=("$git_dir") ;; esac
  for s in "${qv_shares[@]}"; do case $(pwd -P)/ in "$s"/*) return 0 ;; esac; done
  qv_fail "the current folder $(pwd -P) is not shared with the run (${qv_shares[*]})"
}

# A script that sets what a run passes on (the variables named QV_*, the
# locale variables and CI, then those given as NAME=VALUE), changes to the
# current folder and runs the command after --.
qv_job() {
  local v
  for v in LANG LANGUAGE LC_ALL CI $(compgen -e | grep '^QV_'); do
    [ -z "${!v+set}" ] || printf 'export %s=%q\n' "$v" "${!v}"
  done
  while [ "$1" != -- ]; do printf 'export %q\n' "$1"; shift; done
  shift
  printf 'cd %q || exit 1\n' "$(pwd -P)"
  printf '%q ' "$@"
  echo
}

# Runs the calling script again with --inside in a PID namespace of its own
# (and the unshare OPTIONS given before --), and exits with its status:
# whatever runs in the namespace ends with it, also when this script is
# killed (the namespace's first process dies with its parent) or stopped
# (INT, TERM, HUP).
qv_in_namespace() {
  local opts=() pid
  while [ "$1" != -- ]; do opts+=("$1"); shift; done
  shift
  # The command reads this script's input (a job in the background would get
  # /dev/null), unless there is none.
  { : <&0; } 2>/dev/null || exec </dev/null
  setpriv --pdeathsig KILL unshare --pid --fork --kill-child "${opts[@]}" bash "$0" --inside "$@" <&0 &
  pid=$!
  trap 'kill -KILL $pid 2>/dev/null; exit 130' INT
  trap 'kill -KILL $pid 2>/dev/null; exit 143' TERM HUP
  wait $pid
  exit
}
