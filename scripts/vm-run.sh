#!/usr/bin/env bash
# Runs a command of this work tree inside a small emulated x86-64 machine, for
# machines that run no 32-bit x86 code themselves: a Debian 12 guest with
# 32-bit Wine, Xvfb and CTest, made by debvm-create and booted by debvm-run
# (QEMU without KVM). The guest sees the work tree, the build folder and the
# git folder at the same paths through virtio 9p, so the command, the built
# files and whatever the command leaves there are the host's own. The command
# reaches the guest over SSH, with a key made with the guest; its output comes
# back live and its exit status is this script's.
#
#   bash scripts/vm-run.sh [--scratch DIR]... COMMAND [ARG]...
#
# The command runs in the current folder, which must lie in the shared folders.
# --scratch DIR: the guest mounts a folder of a disk of its own over DIR, for
# Wine prefixes and temporary files. That disk is ext4, made anew for each run
# and removed after it: Wine keeps the hidden and system attributes of files
# in extended attributes, which 9p and tmpfs do not keep.
#
# The guest is made once per machine (about 2 to 3 minutes) and cached as
# scripts/debian-root.sh says, in /var/cache/qv-vm/debvm-guest12-<recipe hash>
# (QV_VM_DEBIAN=13: a Debian 13 guest with Wine 10, debvm-guest13-<hash>).
# Each run boots it with its disk as a snapshot, so nothing of a run stays in
# it, and in a PID namespace of its own, so that QEMU ends with the run however
# the run ends. The logs of the last run are in <build>/vm/run, those of the
# guest's last making in <build>/vm/make-guest.log.
#
# Environment: QV_BUILD_DIR (default build); QV_VM_TIMEOUT, the limit in
# seconds on the command (default 3600); QV_VM_BOOT_TIMEOUT, on booting
# (default 600); QV_VM_MEMORY in MB (default 4096); QV_VM_CPUS (default 2).
# Variables named QV_*, CI and the locale variables are passed on to the
# command, with QV_IN_VM=1 added.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd -P)
build=${QV_BUILD_DIR:-$root/build}
mkdir -p "$build/vm" && build=$(cd "$build" && pwd -P)
run=$build/vm/run qv_who=vm qv_log=$build/vm/make-guest.log
# shellcheck source=debian-root.sh
source "$root/scripts/debian-root.sh"

case ${QV_VM_DEBIAN:=12} in
  12) suite=bookworm ;;
  13) suite=trixie ;;
  *) qv_fail "QV_VM_DEBIAN is 12 (the default) or 13, not '$QV_VM_DEBIAN'" ;;
esac
# The generic kernel, since the cloud kernel that debvm would take has no 9p.
packages=linux-image-amd64,wine,wine32:i386,xvfb,xauth,locales,cmake,python3,python3-pefile,imagemagick,procps
# debvm-create makes the guest's tree (its ext4 step is skipped: Debian 12's
# debvm makes the image with genext2fs, which takes over a quarter of an hour
# for these 2.4 GB) and mkfs.ext4 makes the image from it, labelled as
# debvm-run expects.
make_guest() {
  local sources
  sources=$(qv_sources "$suite") || return 1
  ssh-keygen -q -t ed25519 -N '' -C qv-guest -f "$1/key" &&
    debvm-create -r "$suite" -o "$1/tree" -k "$1/key.pub" -h qv-guest -s packagelists,ext4 -- --format=directory \
      --architectures=amd64,i386 --include="$packages" \
      --customize-hook='printf "en_US.UTF-8 UTF-8\nru_RU.UTF-8 UTF-8\n" >"$1/etc/locale.gen" && chroot "$1" locale-gen' \
      - <<<"$sources" &&
    chroot "$1/tree" dpkg-query -W -f='${Version}' wine >"$1/wine-version" &&
    truncate -s "$(($(du -sm "$1/tree" | cut -f1) + 1024))M" "$1/guest.ext4" &&
    mkfs.ext4 -q -L debvm -d "$1/tree" "$1/guest.ext4" && rm -rf --one-file-system "$1/tree"
}

if [ "${1:-}" != --inside ]; then
  scratch=()
  while [ "${1:-}" = --scratch ]; do
    [ -n "${2:-}" ] && mkdir -p "$2" || qv_fail "--scratch needs a folder"
    scratch+=("$(cd "$2" && pwd -P)")
    shift 2
  done
  [ $# -gt 0 ] || { echo "usage: bash scripts/vm-run.sh [--scratch DIR]... COMMAND [ARG]..."; exit 2; }
  for tool in debvm-create debvm-run debvm-waitssh ssh mkfs.ext4 setpriv; do
    command -v "$tool" >/dev/null ||
      qv_fail "$tool is missing: install what the emulated machine needs with: bash scripts/install-deps.sh vm"
  done
  [ "$(id -u)" = 0 ] || qv_fail "making the guest needs root (mmdebstrap)"
  qv_share_folders "$root" "$build"
  qv_cached "debvm-guest$QV_VM_DEBIAN" "$(declare -p suite packages; declare -f make_guest)" make_guest
  rm -rf "$run" && mkdir -p "$run"
  # The guest's job: mounts the shared folders and the scratch disk, runs the command.
  {
    echo 'modprobe 9pnet_virtio; mkdir -p /mnt/scratch'
    for i in "${!qv_shares[@]}"; do
      printf 'mkdir -p %q && mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,cache=loose qv%d %q || exit 1\n' \
        "${qv_shares[i]}" "$i" "${qv_shares[i]}"
    done
    for i in "${!scratch[@]}"; do
      ((i)) || echo 'mount LABEL=qv-scratch /mnt/scratch || exit 1'
      printf 'mkdir -p /mnt/scratch/%d %q && mount --bind /mnt/scratch/%d %q || exit 1\n' "$i" "${scratch[i]}" "$i" "${scratch[i]}"
    done
    qv_job QV_IN_VM=1 TERM=dumb -- "$@" | sed '$s/$/2>\&1; status=$?; sync; exit $status/'
  } >"$run/job.sh"
  printf '%s\0' "${qv_shares[@]}" >"$run/shares"
  if ((${#scratch[@]})); then
    truncate -s 16G "$run/scratch.img" && mkfs.ext4 -q -L qv-scratch "$run/scratch.img" ||
      qv_fail "mkfs.ext4 could not make the scratch disk in $run"
  fi
  qv_in_namespace -- "$qv_entry" "$@"
fi

# In the run's PID namespace: boots the guest, waits for its SSH server, runs the job.
guest=$2
shift 2
cpus=${QV_VM_CPUS:-2} memory=${QV_VM_MEMORY:-4096}
mapfile -d '' shares <"$run/shares"
# A free port on this machine for the guest's SSH server.
port=$((20000 + RANDOM % 20000))
while (: <"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((20000 + RANDOM % 20000)); done
# With SMAP on, every 32-bit Wine process dies at once under this emulation (a
# kernel oops on its return to user mode), so SMAP and SMEP are off; and no
# KVM, since where /dev/kvm exists but does not work, QEMU would abort.
# The kernel's command line is debvm-run's, quiet (the serial console is slow
# under emulation) and without the mitigations, which cost much there.
qemu=(-snapshot -no-reboot -cpu max,-smap,-smep -machine accel=tcg -smp "$cpus" -m "$memory"
  -append "root=LABEL=debvm rw console=ttyS0 quiet mitigations=off")
[ ! -f "$run/scratch.img" ] || qemu+=(-drive "file=$run/scratch.img,format=raw,if=virtio,snapshot=off")
for i in "${!shares[@]}"; do qemu+=(-virtfs "local,path=${shares[i]},mount_tag=qv$i,security_model=none,id=qv$i"); done
qv_say "booting the guest (Debian $QV_VM_DEBIAN, Wine $(sed 's/[~+-].*//' "$guest/wine-version"); QEMU x86-64, no KVM, $cpus CPUs, $memory MB), then: $*"
# The snapshot of the disk and debvm-run's copies of the kernel go to the run folder.
TMPDIR=$run debvm-run -i "$guest/guest.ext4" -s "$port" -- "${qemu[@]}" </dev/null >"$run/console.log" 2>&1 &
vm=$! start=$SECONDS
until debvm-waitssh -q -t 10 "$port"; do
  kill -0 $vm 2>/dev/null && ((SECONDS - start < ${QV_VM_BOOT_TIMEOUT:-600})) && continue
  tail -n 20 "$run/console.log" | sed 's/^/  console: /'
  qv_fail "the guest's SSH server did not answer within $((SECONDS - start)) s (QV_VM_BOOT_TIMEOUT: ${QV_VM_BOOT_TIMEOUT:-600}); logs in $run"
done
qv_say "guest up after $((SECONDS - start)) s"
timeout "${QV_VM_TIMEOUT:-3600}" ssh -n -T -p "$port" -i "$guest/key" -o BatchMode=yes -o StrictHostKeyChecking=no \
  -o UserKnownHostsFile=/dev/null -o LogLevel=ERROR root@127.0.0.1 "bash -c $(printf %q "$(cat "$run/job.sh")")"
status=$?
rm -f "$run/scratch.img"
[ "$status" != 124 ] || qv_fail "no result within the limit of ${QV_VM_TIMEOUT:-3600} s (QV_VM_TIMEOUT): the emulated machine was stopped"
[ "$status" != 255 ] || qv_fail "the connection to the guest failed (ssh); logs in $run"
qv_say "the command ended in the guest with exit code $status"
exit "$status"
