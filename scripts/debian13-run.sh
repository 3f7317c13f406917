#!/usr/bin/env bash
# Runs a command of this work tree in a Debian 13 root: mmdebstrap's minimal
# Debian 13 with "scripts/install-deps.sh full" run in it (the package list
# tried on a bare Debian 13), a squashfs image in scripts/debian-root.sh's
# cache; --fresh: the bare root. A run sees it through an overlay dropped at
# its end, with the work tree, build and git folders, /tmp, /dev, /proc, /sys,
# in a PID namespace that ends all it leaves running. QV_*, CI and the locale
# pass on, with QV_IN_ROOT=debian13, QV_NO_VM=1 and QV_ROOT_FROM (its apt
# sources); builds go to build/debian13 unless QV_BUILD_DIR says.
#   bash scripts/debian13-run.sh [--fresh] COMMAND [ARG]...
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd -P)
runs=$root/build/debian13-runs qv_who=debian13 qv_log=$root/build/debian13-runs/make-root.log
# shellcheck source=debian-root.sh
source "$root/scripts/debian-root.sh"

if [ "${1:-}" = --inside ]; then
  run=$2 m=$2/merged
  mkdir -p "$run/lower" "$run/upper" "$run/work" "$m" && mount -o loop,ro "$3" "$run/lower" &&
    mount -t overlay overlay -o "lowerdir=$run/lower,upperdir=$run/upper,workdir=$run/work" "$m" &&
    mount -t proc proc "$m/proc" && mount -t tmpfs tmpfs "$m/run" && rm -f "$m/etc/resolv.conf" &&
    cp /etc/resolv.conf "$m/etc/" || qv_fail "cannot mount the root in $run"
  for share in /sys /dev /tmp "${@:4}"; do mkdir -p "$m$share" && mount --rbind "$share" "$m$share" || exit 1; done
  # A child: the namespace's first process ignores signals it has no handler for.
  chroot "$m" /usr/bin/env -i /bin/bash "$run/job.sh"
  exit
fi

fresh=0
[ "${1:-}" != --fresh ] || { fresh=1; shift; }
[ $# -gt 0 ] || { echo "usage: bash scripts/debian13-run.sh [--fresh] COMMAND [ARG]..."; exit 2; }
[ "$(id -u)" = 0 ] || qv_fail "making and entering the root needs root (mmdebstrap, mounts, chroot)"
hash mmdebstrap mksquashfs setpriv 2>/dev/null ||
  qv_fail "mmdebstrap or squashfs-tools is missing: install them with: bash scripts/install-deps.sh root"

# The root as a squashfs image (lz4: quick to make and to read).
make_root() {
  local hooks=()
  [ "$kind" = debian13-bare ] || hooks=(--customize-hook="copy-in $root/scripts/install-deps.sh /tmp"
    --customize-hook='chroot "$1" env QV_BUILD_DIR=/tmp bash /tmp/install-deps.sh full'
    --customize-hook='chroot "$1" apt-get clean')
  mmdebstrap --variant=minbase "${hooks[@]}" trixie "$1/tree" - < <(grep '^deb' <<<"$qv_from") &&
    mksquashfs "$1/tree" "$1/root.squashfs" -comp lz4 -quiet -no-progress && rm -rf --one-file-system "$1/tree"
}
kind=debian13-root recipe="$(declare -f make_root) debian13-root$(sha256sum <"$root/scripts/install-deps.sh")"
[ "$fresh" = 0 ] || kind=debian13-bare recipe="$(declare -f make_root) debian13-bare"
mkdir -p "$runs" && qv_pick_sources trixie amd64 "$kind" "$recipe" && qv_cached "$kind" "$recipe" make_root

export QV_BUILD_DIR=${QV_BUILD_DIR:-$root/build/debian13}
export QV_FUZZ_BUILD_DIR=${QV_FUZZ_BUILD_DIR:-$QV_BUILD_DIR/fuzz}
mkdir -p "$QV_BUILD_DIR" "$qv_cache/ccache" && qv_share_folders "$root" "$(cd "$QV_BUILD_DIR" && pwd -P)"
# Run folders left by killed runs (their lock free) go.
for old in "$runs"/run.*; do [ ! -d "$old" ] || flock -n "$old/lock" rm -rf --one-file-system "$old"; done
run=$(mktemp -d "$runs/run.XXXXXX") && exec {run_lock}>"$run/lock" && flock "$run_lock" || qv_fail "cannot make a run folder in $runs"
trap 'rm -rf --one-file-system "$run"' EXIT
qv_job PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root TERM="${TERM:-dumb}" \
  QV_IN_ROOT=debian13 QV_NO_VM=1 QV_ROOT_FROM="$qv_from" -- "$@" >"$run/job.sh"
qv_say "running in the $([ "$fresh" = 1 ] && echo bare Debian 13 root || echo "Debian 13 root, with the project's packages"): $*"
qv_in_namespace "$run" "$qv_entry/root.squashfs" "${qv_shares[@]}" "$qv_cache/ccache"
