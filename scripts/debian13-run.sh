#!/usr/bin/env bash
# Runs a command of this work tree inside a Debian 13 (trixie) root, so that
# the project's scripts are tried on today's Debian as well as on this
# machine's: its install step, its compilers, its clang-tidy and its Wine.
#
#   bash scripts/debian13-run.sh [--fresh] COMMAND [ARG]...
#
# The root is made by mmdebstrap (Debian 13 minbase) with the project's own
# scripts/install-deps.sh run in it by a hook, so every change of the package
# list is tried on a bare Debian 13, and kept as one squashfs image in the
# cache of scripts/debian-root.sh (/var/cache/qv-vm/debian13-root-<recipe
# hash>, made again when install-deps.sh or the recipe below changes; once per
# machine, about 4 to 6 minutes). With --fresh the command runs on the bare
# root instead (debian13-bare-<hash>), as on a new machine.
#
# Each run sees the root through an overlay whose changes are dropped at its
# end, with the work tree (and the build folder and the git folder when they
# lie elsewhere) at the same path, this machine's /tmp (so X displays and
# Wine's server folders are told apart as on the machine itself), /dev,
# /proc, /sys and this machine's name servers. It runs in a PID namespace of
# its own: whatever it leaves running ends with it. Variables named QV_*, CI
# and the locale variables are passed on, with QV_IN_ROOT=debian13 and
# QV_NO_VM=1 added: the root never takes the emulated path, so on a machine
# that runs no 32-bit code the Windows tests are left out there
# (scripts/test.sh says so). Its build folder is build/debian13 unless
# QV_BUILD_DIR names another. Exit code: the command's.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd -P)
runs=$root/build/debian13-runs qv_who=debian13 qv_log=$root/build/debian13-runs/make-root.log
# shellcheck source=debian-root.sh
source "$root/scripts/debian-root.sh"

# In the run's namespaces: mounts the root and what it shares, runs the job.
if [ "${1:-}" = --inside ]; then
  run=$2 image=$3 m=$2/merged
  shift 3
  set -e
  mkdir -p "$run/lower" "$run/upper" "$run/work" "$m"
  mount -t squashfs -o loop,ro "$image" "$run/lower"
  mount -t overlay overlay -o "lowerdir=$run/lower,upperdir=$run/upper,workdir=$run/work" "$m"
  mount -t proc proc "$m/proc"
  mount --rbind /sys "$m/sys"
  mount --rbind /dev "$m/dev"
  mount --bind /tmp "$m/tmp"
  mount -t tmpfs tmpfs "$m/run"
  rm -f "$m/etc/resolv.conf" && cat /etc/resolv.conf >"$m/etc/resolv.conf"
  for share in "$@"; do mkdir -p "$m$share" && mount --bind "$share" "$m$share"; done
  set +e
  chroot "$m" /usr/bin/env -i /bin/bash "$run/job.sh"
  exit
fi

fresh=0
[ "${1:-}" != --fresh ] || { fresh=1; shift; }
[ $# -gt 0 ] || { echo "usage: bash scripts/debian13-run.sh [--fresh] COMMAND [ARG]..."; exit 2; }
[ "$(id -u)" = 0 ] || qv_fail "making and entering the root needs root (mmdebstrap, mounts, chroot)"
for tool in mmdebstrap mksquashfs unshare setpriv; do
  command -v "$tool" >/dev/null ||
    qv_fail "$tool is missing: install what the Debian 13 root needs with: bash scripts/install-deps.sh root"
done

# The root: mmdebstrap's minimal Debian 13, with the project's packages
# unless it is the bare one, as a squashfs image (lz4: quick to make and read).
make_root() {
  local sources hooks=()
  sources=$(qv_sources trixie) || return 1
  [ "$kind" = debian13-bare ] || hooks=(--customize-hook="copy-in $root/scripts/install-deps.sh /tmp"
    --customize-hook='chroot "$1" env QV_BUILD_DIR=/tmp bash /tmp/install-deps.sh'
    --customize-hook='chroot "$1" apt-get clean')
  mmdebstrap --variant=minbase "${hooks[@]}" trixie "$1/tree" - <<<"$sources" &&
    mksquashfs "$1/tree" "$1/root.squashfs" -comp lz4 -quiet -no-progress && rm -rf --one-file-system "$1/tree"
}
kind=debian13-root
[ "$fresh" = 0 ] || kind=debian13-bare
mkdir -p "$runs" || qv_fail "cannot make $runs"
recipe="$(declare -f make_root) $kind"
[ "$fresh" = 1 ] || recipe+=$(sha256sum <"$root/scripts/install-deps.sh")
qv_cached "$kind" "$recipe" make_root

# The root's builds never mix with this machine's: unless told otherwise they
# go to build/debian13 (fuzzing's to build/debian13/fuzz).
export QV_BUILD_DIR=${QV_BUILD_DIR:-$root/build/debian13}
export QV_FUZZ_BUILD_DIR=${QV_FUZZ_BUILD_DIR:-$QV_BUILD_DIR/fuzz}
mkdir -p "$QV_BUILD_DIR" && qv_share_folders "$root" "$(cd "$QV_BUILD_DIR" && pwd -P)"
# Run folders that a killed run left behind (nobody holds their lock).
for old in "$runs"/run.*; do [ ! -d "$old" ] || flock -n "$old/lock" rm -rf --one-file-system "$old"; done
run=$(mktemp -d "$runs/run.XXXXXX") && exec {run_lock}>"$run/lock" && flock "$run_lock" ||
  qv_fail "cannot make a run folder in $runs"
trap 'rm -rf --one-file-system "$run"' EXIT
qv_job PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root TERM="${TERM:-dumb}" \
  QV_IN_ROOT=debian13 QV_NO_VM=1 -- "$@" >"$run/job.sh"
if [ "$fresh" = 1 ]; then qv_say "running in the bare Debian 13 root: $*"; else qv_say "running in the Debian 13 root, with the project's packages: $*"; fi
qv_in_namespace --mount --propagation private -- "$run" "$qv_entry/root.squashfs" "${qv_shares[@]}"
