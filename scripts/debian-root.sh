# The one way of making, caching and checking a Debian root, shared by the
# emulated machine (scripts/vm-run.sh: a Debian 12 guest) and the Debian 13
# root (scripts/debian13-run.sh).
#
# A root is made once per machine, from the Debian mirror this machine's apt
# uses (debootstrap, no loop mounts), and kept in a machine-wide cache
# (QV_VM_CACHE, default /var/cache/qv-vm) as <cache>/<kind>-<recipe hash>,
# where every clone on the machine finds it:
#   - it is made and checked under the cache's lock (flock on
#     <cache>/lock-<kind>); a run that finds the lock taken says so and waits;
#   - it is made in a temporary folder and moved into place only when
#     complete, with a manifest of what it holds: each file's size and
#     checksum (size only for files over 256 MB), each folder's listing
#     (names, types, sizes, modes) as a checksum;
#   - before each use it is checked against that manifest (disk images also
#     with e2fsck -fn); one that fails is reported, removed and made again;
#   - a run holds a shared lock on <cache>/<kind>-<hash>.in-use while it uses
#     the root; making a root of a new recipe removes the roots of other
#     recipes of the same kind that no run uses (one in use is left for the
#     next making).
#
# Sourced, it offers the functions below (qv_who, the scripts' name for their
# messages, and qv_log, the log of a making, are set by the caller). Run as a
# program with --tree, it makes a root's folder (see qv_debian_tree).
qv_cache=${QV_VM_CACHE:-/var/cache/qv-vm}

qv_say() { echo "$qv_who: $*"; }
qv_fail() { echo "$qv_who: FAILED: $*"; exit 1; }

# Prints "URI SUITE" for every deb source this machine's apt reads, from its
# one-line and deb822 source lists.
qv_apt_sources() {
  cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
    awk '$1 == "deb" { i = 2; if ($i ~ /^\[/) { while (i < NF && $i !~ /\]$/) i++; i++ } if (i < NF) print $i, $(i + 1) }'
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk 'BEGIN { RS = "" } {
        types = ""; uris = ""; suites = ""; enabled = "yes"; n = split($0, l, "\n")
        for (i = 1; i <= n; i++) {
          if (l[i] ~ /^Types:/) types = substr(l[i], 7)
          if (l[i] ~ /^URIs:/) uris = substr(l[i], 6)
          if (l[i] ~ /^Suites:/) suites = substr(l[i], 8)
          if (tolower(l[i]) ~ /^enabled: *no/) enabled = "no"
        }
        if (enabled == "no" || (" " types " ") !~ / deb /) next
        nu = split(uris, u, " "); ns = split(suites, s, " ")
        for (a = 1; a <= nu; a++) for (b = 1; b <= ns; b++) print u[a], s[b] }' "$f"
  done
}

# Sets qv_mirror and qv_security: the Debian mirror this machine's apt uses,
# whatever Debian suite it lists it for, and its security mirror (empty when
# it lists none: the root then goes without the security updates).
# QV_VM_MIRROR and QV_VM_SECURITY_MIRROR override them. No mirror at all
# stops the run with a message that names QV_VM_MIRROR.
qv_debian_mirrors() {
  local codenames='(buster|bullseye|bookworm|trixie|forky|duke|sid|oldoldstable|oldstable|stable|testing|unstable)'
  qv_mirror=${QV_VM_MIRROR:-$(qv_apt_sources | awk -v re="^$codenames(-updates|-backports|-proposed-updates)?\$" '$2 ~ re { print $1; exit }')}
  qv_security=${QV_VM_SECURITY_MIRROR:-$(qv_apt_sources | awk -v re="^$codenames-security\$" '$2 ~ re { print $1; exit }')}
  [ -n "$qv_mirror" ] ||
    qv_fail "this machine's apt lists no Debian mirror to make the root from; name one with QV_VM_MIRROR=<Debian mirror URI>"
  qv_mirror=${qv_mirror%/}
  qv_security=${qv_security%/}
}

# Makes a Debian root in TREE: debootstrap SUITE (minbase) from MIRROR, its
# apt sources (SECURITY, when not "-", for the security updates), no
# services started, the i386 architecture added when a package asks for it,
# PACKAGES installed, the lists and the package cache emptied, and the
# locales en_US.UTF-8 and ru_RU.UTF-8 generated when the locales package is
# among them. Runs in a mount namespace of its own (see qv_make_tree), so
# that the mounts inside the tree end with it.
qv_debian_tree() {
  local tree=$1 suite=$2 mirror=$3 security=$4
  shift 4
  set -e
  echo "$qv_who: making the root: debootstrap $suite (minbase) from $mirror"
  debootstrap --variant=minbase "$suite" "$tree" "$mirror"
  {
    echo "deb $mirror $suite main"
    echo "deb $mirror $suite-updates main"
    [ "$security" = - ] || echo "deb $security $suite-security main"
  } >"$tree/etc/apt/sources.list"
  printf '#!/bin/sh\nexit 101\n' >"$tree/usr/sbin/policy-rc.d"
  chmod 755 "$tree/usr/sbin/policy-rc.d"
  (($#)) || return 0
  mount -t proc proc "$tree/proc"
  mount -t sysfs sysfs "$tree/sys"
  mount --bind /dev "$tree/dev"
  echo "$qv_who: making the root: installing $# packages: $*"
  case " $* " in *:i386\ *) chroot "$tree" dpkg --add-architecture i386 ;; esac
  chroot "$tree" apt-get update -q
  chroot "$tree" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@"
  chroot "$tree" apt-get clean
  rm -rf "$tree"/var/lib/apt/lists/*
  case " $* " in
    *\ locales\ *)
      # Wine reports the Russian interface language only when the locale exists.
      echo "$qv_who: making the root: generating the locales"
      printf 'en_US.UTF-8 UTF-8\nru_RU.UTF-8 UTF-8\n' >"$tree/etc/locale.gen"
      chroot "$tree" locale-gen ;;
  esac
}

# Runs qv_debian_tree TREE SUITE MIRROR SECURITY PACKAGES... as a program of
# its own in a private mount namespace, within SECONDS, its output going to
# $qv_log; the lines of its stages are shown as they come.
qv_make_tree() {
  local seconds=$1 maker rc
  shift
  timeout -k 10 "$seconds" unshare --mount --propagation private \
    env qv_who="$qv_who" bash "${BASH_SOURCE[0]}" --tree "$@" >>"$qv_log" 2>&1 &
  maker=$!
  tail -n +1 -F --pid=$maker "$qv_log" 2>/dev/null | grep --line-buffered "^$qv_who: "
  wait $maker
  rc=$?
  [ "$rc" = 0 ] && return 0
  grep -v "^$qv_who: " "$qv_log" | tail -n 30 | sed 's/^/  /'
  [ "$rc" != 124 ] || qv_fail "making the root did not end within $seconds s; log in $qv_log"
  qv_fail "making the root failed (exit $rc); log in $qv_log"
}

# The lines of a manifest that describe the entries of DIR: a file by its
# size and checksum ("-" for a file over 256 MB), a folder by the number of
# its entries and a checksum of their listing.
qv_describe() {
  local dir=$1 path name size sum list
  for path in "$dir"/*; do
    name=${path##*/}
    case $name in manifest | manifest.part) continue ;; esac
    if [ -d "$path" ] && [ ! -L "$path" ]; then
      list=$(cd "$path" && { find . -xdev ! -type d -printf '%p %y %s %m %l\n'; find . -xdev -type d -printf '%p d %m\n'; } |
        LC_ALL=C sort)
      echo "tree $name $(wc -l <<<"$list") $(sha256sum <<<"$list" | cut -d' ' -f1)"
    else
      size=$(stat -c %s "$path")
      sum=-
      [ "$size" -gt $((256 << 20)) ] || sum=$(sha256sum <"$path" | cut -d' ' -f1)
      echo "file $name $size $sum"
    fi
  done
}

# Why the root in DIR cannot be used, or nothing when it can.
qv_root_problem() {
  local dir=$1 kind name size sum now
  [ -f "$dir/manifest" ] || { echo "it has no manifest"; return; }
  grep -qE '^(file|tree) ' "$dir/manifest" || { echo "its manifest lists nothing"; return; }
  now=$(qv_describe "$dir")
  while read -r kind name size sum; do
    case $kind in file | tree) ;; *) continue ;; esac
    [ -e "$dir/$name" ] || { echo "$name is missing"; return; }
    grep -qxF "$kind $name $size $sum" <<<"$now" && continue
    case $kind in
      file) echo "$name is not the file it was when it was made (size or checksum)" ;;
      tree) echo "the folder $name does not hold what it held when it was made" ;;
    esac
    return
  done <"$dir/manifest"
  # A disk image, a file that holds an ext2/3/4 file system (its magic
  # number, 53 ef, at byte 1080), must pass e2fsck as well.
  for name in "$dir"/*; do
    [ -f "$name" ] && [ "$(od -An -tx1 -j1080 -N2 "$name" 2>/dev/null | tr -d ' ')" = 53ef ] || continue
    e2fsck -fn "$name" >/dev/null 2>&1 || { echo "its disk image ${name##*/} fails e2fsck -fn"; return; }
  done
}

# Sets qv_shares to the folders a run shares with a root at the same path:
# the work tree ROOT, and the build folder BUILD and the work tree's git
# folder (git worktree add) when they lie outside it; and qv_cwd to the
# current folder, which must lie in one of them.
qv_share_folders() {
  local root=$1 build=$2 git_dir s inside=0
  qv_shares=("$root")
  case $build/ in "$root"/*) ;; *) qv_shares+=("$build") ;; esac
  git_dir=$(git -C "$root" rev-parse --path-format=absolute --git-common-dir 2>/dev/null) &&
    git_dir=$(cd "$git_dir" && pwd -P) &&
    case $git_dir/ in "$root"/* | "$build"/*) ;; *) qv_shares+=("$git_dir") ;; esac
  qv_cwd=$(pwd -P)
  for s in "${qv_shares[@]}"; do case $qv_cwd/ in "$s"/*) inside=1 ;; esac; done
  [ "$inside" = 1 ] || qv_fail "the current folder $qv_cwd is not shared with the $qv_who run (${qv_shares[*]})"
}

# Prints the lines of a job that set what a run in a root passes on: the
# variables named QV_*, the locale variables and CI, less those named as
# arguments (which the job sets itself), then the change to the current
# folder.
qv_job_environment() {
  local v
  for v in LANG LANGUAGE LC_ALL CI; do [ -z "${!v:-}" ] || printf 'export %s=%q\n' "$v" "${!v}"; done
  while read -r v; do
    case " $* " in *" $v "*) continue ;; esac
    printf 'export %s=%q\n' "$v" "${!v}"
  done < <(compgen -e | grep '^QV_')
  printf 'cd %q || exit 1\n' "$qv_cwd"
}

# The cache's lock of KIND, held while a run checks, makes, removes or takes
# a root into use.
qv_lock_cache() {
  local kind=$1 seconds=$2 start=$SECONDS
  exec {qv_lock_fd}>>"$qv_cache/lock-$kind" || qv_fail "cannot open the lock file $qv_cache/lock-$kind"
  flock -n "$qv_lock_fd" && return
  qv_say "waiting for the lock of the cache $qv_cache: another run is making or checking the $kind root"
  flock -w "$seconds" "$qv_lock_fd" || qv_fail "no lock of the cache $qv_cache within $seconds s"
  qv_say "got the lock of the cache after $((SECONDS - start)) s"
}
qv_unlock_cache() { flock -u "$qv_lock_fd"; exec {qv_lock_fd}>&-; }

# Takes the root of KIND and RECIPE (a hash) into use and sets qv_root to its
# folder: under the cache's lock, checks it, removes it when it cannot be used
# (or when its id is BAD_ID: a root that failed in use), makes it when
# missing with MAKER (a function called with the new folder, which it fills),
# and takes its in-use lock. WHAT names it in messages; SECONDS limits the
# wait for the lock and the making.
#   qv_use_root KIND RECIPE WHAT SECONDS MAKER [BAD_ID]
qv_use_root() {
  local kind=$1 recipe=$2 what=$3 seconds=$4 maker=$5 bad=${6:-} problem start=$SECONDS new old
  mkdir -p "$qv_cache" || qv_fail "cannot make the cache $qv_cache (QV_VM_CACHE)"
  qv_cache=$(cd "$qv_cache" && pwd -P)
  qv_root=$qv_cache/$kind-${recipe:0:16}
  [ -z "${qv_in_use_fd:-}" ] || exec {qv_in_use_fd}>&-
  qv_lock_cache "$kind" "$seconds"
  if [ -n "$bad" ] && [ "$(grep '^id ' "$qv_root/manifest" 2>/dev/null)" = "id $bad" ]; then
    rm -rf "$qv_root"
  fi
  if [ -d "$qv_root" ]; then
    problem=$(qv_root_problem "$qv_root")
    if [ -n "$problem" ]; then
      qv_say "the $what in $qv_root cannot be used: $problem; it is removed and made again"
      rm -rf "$qv_root"
    else
      qv_say "using the $what in $qv_root, made $(sed -n 's/^made //p' "$qv_root/manifest") (checked in $((SECONDS - start)) s)"
    fi
  fi
  if [ ! -d "$qv_root" ]; then
    # What a stopped making left behind: no other run makes one now.
    rm -rf "$qv_cache/.new-$kind-"*
    new=$qv_cache/.new-$kind-${recipe:0:16}-$$
    mkdir -p "$new" || qv_fail "cannot make $new"
    start=$SECONDS
    # shellcheck disable=SC2064  # the values of now
    trap "rm -rf $(printf %q "$new")" EXIT
    "$maker" "$new" || qv_fail "making the $what failed; log in $qv_log"
    {
      echo "recipe $recipe"
      echo "id $(date +%s)-$$-$RANDOM"
      echo "made $(date '+%F %T') in $((SECONDS - start)) s"
      qv_describe "$new"
    } >"$new/manifest.part" && mv "$new/manifest.part" "$new/manifest" ||
      qv_fail "cannot write the manifest of $new"
    mv "$new" "$qv_root" || qv_fail "cannot move the new $what into place, $qv_root"
    trap - EXIT
    qv_say "$what made in $((SECONDS - start)) s ($(du -sm "$qv_root" | cut -f1) MB)"
    for old in "$qv_cache/$kind"-*; do
      [[ -d $old && $old != "$qv_root" && ${old##*/} =~ ^$kind-[0-9a-f]{16}$ ]] || continue
      if exec {old_fd}>>"$old.in-use" && flock -xn "$old_fd"; then
        rm -rf "$old" "$old.in-use"
        qv_say "removed the $what of another recipe, $old"
      else
        qv_say "the $what of another recipe, $old, is in use: left for the next making"
      fi
      exec {old_fd}>&-
    done
  fi
  exec {qv_in_use_fd}>>"$qv_root.in-use" && flock -s "$qv_in_use_fd" ||
    qv_fail "cannot take the in-use lock $qv_root.in-use"
  qv_root_id=$(sed -n 's/^id //p' "$qv_root/manifest")
  qv_unlock_cache
}

if [ "${BASH_SOURCE[0]}" = "$0" ] && [ "${1:-}" = --tree ]; then
  shift
  qv_who=${qv_who:-root}
  qv_debian_tree "$@"
fi
