#!/usr/bin/env bash
# Runs a command of this work tree inside a small emulated x86-64 machine, for
# machines that run no 32-bit x86 code themselves: QEMU without KVM booting a
# minimal Debian 12 guest with Wine (32-bit), Xvfb and CTest. The guest sees
# the work tree (and the build folder, when it lies elsewhere) at the same path
# through virtio 9p, so the command, the built files and whatever the command
# leaves there are the host's own. The command's output comes back live
# through a serial port, and its exit status is this script's.
#
#   bash scripts/vm-run.sh [--scratch DIR]... COMMAND [ARG]...
#
# The command runs in the current folder, which must lie in the shared folders.
# --scratch DIR: the guest mounts a folder of a disk of its own over DIR, for
# Wine prefixes and temporary files (a Wine prefix wants a local file system,
# and it is faster there); what the command leaves in DIR stays in the guest.
# That disk is ext4, made anew for each run: Wine keeps the hidden and system
# attributes of files in extended attributes, which the guest kernel's tmpfs
# does not keep, and the tests of those attributes need them.
#
# The guest is a Debian root made, cached and checked as scripts/debian-root.sh
# says (once per machine, about 2 to 5 minutes, in
# /var/cache/qv-vm/guest-<recipe hash>; made again when its recipe below
# changes): its kernel, its initrd and a disk image made from its folder with
# mkfs.ext4 -d. A guest that QEMU boots without its coming up is reported,
# removed and made again, and the run tried once more. A run opens the guest's
# files while it holds the cache's lock and QEMU reads them through those open
# files, so a guest removed by another run meanwhile stays whole for the runs
# that use it. The logs of the last run (kernel console, QEMU) are in
# <build>/vm/run, those of the last making of the guest in
# <build>/vm/make-guest.log.
#
# Environment: QV_BUILD_DIR (default build); QV_VM_CACHE (default
# /var/cache/qv-vm); QV_VM_TIMEOUT, the limit in seconds on the whole (making
# the guest, booting, the command; default 3600); QV_VM_BOOT_TIMEOUT, the
# limit on the guest's coming up (default 900); QV_VM_MEMORY in MB (default
# 4096); QV_VM_CPUS (default 2); QV_VM_DEBIAN (see guest_suite); QV_VM_MIRROR
# and QV_VM_SECURITY_MIRROR, the Debian mirrors (default: the ones this
# machine's apt uses).
# Variables named QV_* and the locale variables are passed on to the command,
# with QV_IN_VM=1 added.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd -P)
build=${QV_BUILD_DIR:-$root/build}
mkdir -p "$build"
build=$(cd "$build" && pwd -P)
vm=$build/vm
run=$vm/run
limit=${QV_VM_TIMEOUT:-3600}
boot_limit=${QV_VM_BOOT_TIMEOUT:-900}
deadline=$((SECONDS + limit))
qv_who=vm
qv_log=$vm/make-guest.log
# shellcheck source=debian-root.sh
source "$root/scripts/debian-root.sh"
say() { qv_say "$@"; }
fail() { qv_fail "$@"; }

# The guest's recipe. Changing anything in it (these lists, the function
# guest_init, or the making of a root in scripts/debian-root.sh) makes the
# guest again on the next run.
# QV_VM_DEBIAN=13 makes and boots a Debian 13 guest instead (Wine 10), a guest
# of its own kind in the cache, for trying the Windows tests under Debian 13's
# Wine on a machine that runs no 32-bit code.
case ${QV_VM_DEBIAN:-12} in
  12) guest_suite=bookworm guest_kind=guest ;;
  13) guest_suite=trixie guest_kind=guest-debian13 ;;
  *) fail "QV_VM_DEBIAN is 12 (the default) or 13, not '$QV_VM_DEBIAN'" ;;
esac
guest_debian=${QV_VM_DEBIAN:-12}
guest_packages=(linux-image-amd64 initramfs-tools kmod iproute2 procps
  wine wine32:i386 xvfb xauth locales cmake python3 python3-pefile imagemagick)

# The first process of the guest (kernel option init=), kept small: it runs
# the job.sh that this script puts in the shared run folder, which sets up the
# rest, and then powers the machine off. Its own messages go to the kernel
# console.
guest_init() {
  cat <<'INIT'
#!/bin/sh
PATH=/usr/sbin:/usr/bin:/sbin:/bin
export PATH
mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /run || mount -t tmpfs tmpfs /run
mkdir -p /run/qv
modprobe -q 9pnet_virtio
modprobe -q 9p
if mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 qvrun /run/qv; then
  bash /run/qv/job.sh
else
  echo "qv-init: cannot mount the run folder (9p)"
fi
sync
echo o >/proc/sysrq-trigger
sleep 60
INIT
}

recipe_hash() {
  { declare -p guest_suite guest_packages; declare -f guest_init qv_debian_tree; } | sha256sum | cut -d' ' -f1
}

scratch=()
while [ "${1:-}" = --scratch ]; do
  [ -n "${2:-}" ] || fail "--scratch needs a folder"
  mkdir -p "$2"
  scratch+=("$(cd "$2" && pwd -P)")
  shift 2
done
[ $# -gt 0 ] || { echo "usage: bash scripts/vm-run.sh [--scratch DIR]... COMMAND [ARG]..."; exit 2; }

remaining() { echo $((deadline - SECONDS > 0 ? deadline - SECONDS : 1)); }

for tool in qemu-system-x86_64 debootstrap mkfs.ext4 e2fsck unshare flock chroot; do
  command -v "$tool" >/dev/null ||
    fail "$tool is missing: install what the emulated machine needs with: bash scripts/install-deps.sh vm"
done
[ "$(id -u)" = 0 ] || fail "making and running the guest needs root (debootstrap, chroot)"

recipe=$(recipe_hash)
mkdir -p "$vm" || fail "cannot make $vm"

# Fills NEW with the guest of this recipe: its root folder made with
# debootstrap, then its kernel, initrd and a disk image of the folder.
make_guest() {
  local new=$1 kernel initrd size
  qv_debian_mirrors
  : >"$qv_log"
  say "making the guest in $new (Debian $guest_debian with Wine, Xvfb and CTest; once per machine, about 2 to 5 minutes), log in $qv_log"
  qv_make_tree "$(remaining)" "$new/tree" "$guest_suite" "$qv_mirror" "${qv_security:--}" "${guest_packages[@]}"
  chroot "$new/tree" dpkg-query -W -f='${Version}\n' wine >"$new/wine-version" 2>>"$qv_log" ||
    fail "the guest has no Wine; log in $qv_log"
  guest_init >"$new/tree/sbin/qv-init" && chmod 755 "$new/tree/sbin/qv-init" || fail "cannot write the guest's init"
  say "making the guest: disk image"
  kernel=$(ls "$new"/tree/boot/vmlinuz-* 2>/dev/null | sort -V | tail -n 1)
  initrd=$(ls "$new"/tree/boot/initrd.img-* 2>/dev/null | sort -V | tail -n 1)
  [ -n "$kernel" ] && [ -n "$initrd" ] || fail "the guest has no kernel or initrd in /boot; log in $qv_log"
  cp "$kernel" "$new/vmlinuz" && cp "$initrd" "$new/initrd.img" || fail "cannot copy the guest's kernel and initrd"
  size=$(( $(du -sm "$new/tree" | cut -f1) + 1024 ))
  truncate -s "${size}M" "$new/root.img"
  mkfs.ext4 -q -F -L qv-guest -d "$new/tree" "$new/root.img" >>"$qv_log" 2>&1 ||
    fail "mkfs.ext4 could not make the guest's disk image; log in $qv_log"
  rm -rf "$new/tree"
}

# Takes the guest into use (made when missing or bad; with an argument, the
# id of a guest that did not come up, removed first unless another run has
# made it again meanwhile) and opens its files for QEMU.
use_guest() {
  qv_use_root "$guest_kind" "$recipe" guest "$(remaining)" make_guest "${1:-}"
  guest=$qv_root
  [ -z "${img_fd:-}" ] || exec {kernel_fd}<&- {initrd_fd}<&- {img_fd}<&-
  exec {kernel_fd}<"$guest/vmlinuz" {initrd_fd}<"$guest/initrd.img" {img_fd}<"$guest/root.img" ||
    fail "cannot open the guest's files in $guest"
  guest_id=$qv_root_id
}

# The folders the guest shares; the current folder must be in one of them.
qv_share_folders "$root" "$build"
shares=("${qv_shares[@]}")

# The job, run by the guest's init: mounts what programs expect, the shared
# and scratch folders, sets the environment and runs the command, its output
# going to the second serial port.
write_job() {
  local i s d
  cat <<'JOB'
#!/bin/bash
mountpoint -q /sys || mount -t sysfs sysfs /sys
mountpoint -q /dev || mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mountpoint -q /dev/pts || mount -t devpts devpts /dev/pts
mountpoint -q /dev/shm || mount -t tmpfs tmpfs /dev/shm
mountpoint -q /tmp || mount -t tmpfs tmpfs /tmp
[ -e /dev/fd ] || ln -s /proc/self/fd /dev/fd
hostname qv-guest
printf '127.0.0.1 localhost\n127.0.1.1 qv-guest\n' >/etc/hosts
: >/etc/resolv.conf
ip link set lo up
stty -F /dev/ttyS1 raw -echo
exec </dev/null >/dev/ttyS1 2>&1
echo "vm: guest up after $(cut -d. -f1 /proc/uptime) s"
JOB
  i=0
  for s in "${shares[@]}"; do
    printf 'mkdir -p %q && mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,cache=loose qv%d %q ||\n' "$s" "$i" "$s"
    printf '  { echo "vm: cannot mount the shared folder %q"; echo 1 >/run/qv/status; exit 1; }\n' "$s"
    i=$((i + 1))
  done
  if ((${#scratch[@]})); then
    echo 'mkdir -p /mnt/qv-scratch && mount -t ext4 /dev/vdb /mnt/qv-scratch ||'
    echo '  { echo "vm: cannot mount the scratch disk"; echo 1 >/run/qv/status; exit 1; }'
    i=0
    for d in "${scratch[@]}"; do
      printf 'mkdir -p /mnt/qv-scratch/%d %q && mount --bind /mnt/qv-scratch/%d %q\n' "$i" "$d" "$i" "$d"
      i=$((i + 1))
    done
  fi
  echo 'export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root TERM=dumb QV_IN_VM=1'
  qv_job_environment QV_IN_VM
  printf '%q ' "$@" | sed 's/ $/ 2>\&1 | cat\n/'
  echo 'status=${PIPESTATUS[0]}'
  echo 'echo "$status" >/run/qv/status'
  echo 'sync'
}

# Boots the guest and runs the command in it; sets rc (QEMU's exit code).
# The guest must say "guest up" within boot_limit seconds, else QEMU is
# stopped and the file no-boot left in the run folder.
boot_guest() {
  local qemu i s
  rm -rf "$run"
  mkdir -p "$run"
  write_job "$@" >"$run/job.sh"
  say "booting the guest (Debian $guest_debian, Wine $(sed 's/[~+-].*//' "$guest/wine-version" 2>/dev/null); QEMU x86-64, no KVM, $cpus CPUs, $memory MB), then: $*"
  qemu=(qemu-system-x86_64 -name qv-guest -nodefaults -no-user-config -display none -no-reboot
    -machine pc -accel tcg,thread=multi
    # With SMAP on, every 32-bit Wine process dies at once under this emulation
    # (a kernel oops on its return to user mode), so SMAP and SMEP are off.
    -cpu max,-smap,-smep -smp "$cpus" -m "$memory"
    -kernel "/dev/fd/$kernel_fd" -initrd "/dev/fd/$initrd_fd"
    -append "root=/dev/vda rw console=ttyS0 init=/sbin/qv-init panic=1 quiet mitigations=off"
    -drive "file=/dev/fd/$img_fd,format=raw,if=virtio,snapshot=on"
    -device virtio-rng-pci
    -serial "file:$run/console.log" -serial "file:$run/output.log"
    -virtfs "local,path=$run,mount_tag=qvrun,security_model=none,id=qvrun")
  # The scratch disk: sparse, so it takes only what the run writes.
  if ((${#scratch[@]})); then
    truncate -s 16G "$run/scratch.img" && mkfs.ext4 -q -F -L qv-scratch "$run/scratch.img" >"$run/mkfs.log" 2>&1 ||
      fail "mkfs.ext4 could not make the scratch disk in $run"
    qemu+=(-drive "file=$run/scratch.img,format=raw,if=virtio")
  fi
  i=0
  for s in "${shares[@]}"; do
    qemu+=(-virtfs "local,path=$s,mount_tag=qv$i,security_model=none,id=qv$i")
    i=$((i + 1))
  done
  : >"$run/output.log"
  # The disk's copy-on-write overlay lives in the run folder too.
  TMPDIR=$run timeout -k 10 "$(remaining)" "${qemu[@]}" </dev/null >"$run/qemu.log" 2>&1 &
  qemu_pid=$!
  trap 'kill $qemu_pid 2>/dev/null' EXIT
  (
    up_by=$(($(date +%s) + boot_limit))
    while kill -0 "$qemu_pid" 2>/dev/null && ! grep -q '^vm: guest up' "$run/output.log"; do
      if [ "$(date +%s)" -ge "$up_by" ]; then
        : >"$run/no-boot"
        kill "$qemu_pid"
        break
      fi
      sleep 5
    done
  ) &
  tail -n +1 -F --pid=$qemu_pid "$run/output.log" 2>/dev/null
  wait $qemu_pid
  rc=$?
  trap - EXIT
  rm -f "$run/scratch.img"
}

# The tails of the guest's console and of QEMU's messages.
show_logs() {
  echo
  tail -n 20 "$run/console.log" 2>/dev/null | sed 's/^/  console: /'
  tail -n 20 "$run/qemu.log" 2>/dev/null | sed 's/^/  qemu: /'
}

cpus=${QV_VM_CPUS:-2}
memory=${QV_VM_MEMORY:-4096}
use_guest
boot_guest "$@"
# A guest that QEMU boots without its coming up (the kernel stopped, or no
# "guest up" in time) is bad: it is removed, made again and the command run
# once more. A command that fails in a guest that came up says nothing about
# the guest.
if [ ! -s "$run/status" ] && ! grep -q '^vm: guest up' "$run/output.log" &&
   { [ "$rc" = 0 ] || [ -e "$run/no-boot" ]; }; then
  show_logs
  if [ -e "$run/no-boot" ]; then
    say "the guest did not come up within $boot_limit s (QV_VM_BOOT_TIMEOUT): it is taken as bad, made again, and the command run once more"
  else
    say "the guest stopped without coming up: it is taken as bad, made again, and the command run once more"
  fi
  use_guest "$guest_id"
  boot_guest "$@"
fi

if [ -s "$run/status" ]; then
  status=$(cat "$run/status")
  say "the command ended in the guest with exit code $status"
  exit "$status"
fi
show_logs
[ ! -e "$run/no-boot" ] ||
  fail "the guest did not come up within $boot_limit s (QV_VM_BOOT_TIMEOUT); logs in $run"
if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
  fail "no result within the limit of $limit s (QV_VM_TIMEOUT): the emulated machine was stopped; logs in $run"
fi
if [ "$rc" != 0 ]; then
  fail "QEMU failed (exit $rc); logs in $run"
fi
grep -q '^vm: guest up' "$run/output.log" || fail "the guest stopped without coming up; logs in $run"
fail "the guest stopped without a result of the command; logs in $run"
