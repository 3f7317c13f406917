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
# The guest is made once per machine, from Debian's package registry
# (debootstrap, about 4 to 5 minutes, no loop mounts), and kept in a cache
# outside the work tree, /var/cache/qv-vm/guest-<recipe hash> (QV_VM_CACHE
# moves the cache), which every clone on the machine uses. It is made again
# when its recipe below changes; the guests of other recipes are removed then.
# A guest is made and checked under a lock (flock on <cache>/lock): it is made
# in a temporary folder and moved into place only when complete, and a run
# that finds the lock taken says so and waits. Before each use the guest's
# files are checked against the manifest written when it was made (sizes, the
# checksums of kernel and initrd), and the disk image with e2fsck -fn; a
# guest that fails that check, or that QEMU boots without its coming up, is
# reported, removed and made again (and the run tried once more). A run
# opens the guest's files while it holds the lock and QEMU reads them through
# those open files, so a guest removed by another run meanwhile stays whole
# for the runs that use it. The logs of
# the last run (kernel console, QEMU) are in <build>/vm/run, those of the
# last making of the guest in <build>/vm/make-guest.log.
#
# Environment: QV_BUILD_DIR (default build); QV_VM_CACHE (default
# /var/cache/qv-vm); QV_VM_TIMEOUT, the limit in seconds on the whole (making
# the guest, booting, the command; default 3600); QV_VM_BOOT_TIMEOUT, the
# limit on the guest's coming up (default 900); QV_VM_MEMORY in MB (default
# 4096); QV_VM_CPUS (default 2); QV_VM_MIRROR, the Debian mirror (default: the
# one this machine's apt uses).
# Variables named QV_* and the locale variables are passed on to the command,
# with QV_IN_VM=1 added.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd -P)
build=${QV_BUILD_DIR:-$root/build}
mkdir -p "$build"
build=$(cd "$build" && pwd -P)
vm=$build/vm
run=$vm/run
cache=${QV_VM_CACHE:-/var/cache/qv-vm}
limit=${QV_VM_TIMEOUT:-3600}
boot_limit=${QV_VM_BOOT_TIMEOUT:-900}
deadline=$((SECONDS + limit))
say() { echo "vm: $*"; }
fail() { echo "vm: FAILED: $*"; exit 1; }

# The guest's recipe. Changing anything in it (these lists or the functions
# make_guest_tree and guest_init) makes the guest again on the next run.
guest_suite=bookworm
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

# Makes the guest's root folder TREE from MIRROR (and SECURITY for the
# security updates). Runs as root in a mount namespace of its own, so that
# the mounts inside the tree end with it.
make_guest_tree() {
  local tree=$1 mirror=$2 security=$3
  set -e
  echo "vm: making the guest: debootstrap $guest_suite (minbase) from $mirror"
  debootstrap --variant=minbase "$guest_suite" "$tree" "$mirror"
  cat >"$tree/etc/apt/sources.list" <<SOURCES
deb $mirror $guest_suite main
deb $mirror $guest_suite-updates main
deb $security $guest_suite-security main
SOURCES
  printf '#!/bin/sh\nexit 101\n' >"$tree/usr/sbin/policy-rc.d"
  chmod 755 "$tree/usr/sbin/policy-rc.d"
  mount -t proc proc "$tree/proc"
  mount -t sysfs sysfs "$tree/sys"
  mount --bind /dev "$tree/dev"
  echo "vm: making the guest: installing ${#guest_packages[@]} packages: ${guest_packages[*]}"
  chroot "$tree" dpkg --add-architecture i386
  chroot "$tree" apt-get update -q
  chroot "$tree" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${guest_packages[@]}"
  chroot "$tree" apt-get clean
  rm -rf "$tree"/var/lib/apt/lists/*
  # Wine reports the Russian interface language only when the locale exists.
  echo "vm: making the guest: generating the locales"
  printf 'en_US.UTF-8 UTF-8\nru_RU.UTF-8 UTF-8\n' >"$tree/etc/locale.gen"
  chroot "$tree" locale-gen
  echo "vm: making the guest: disk image"
  guest_init >"$tree/sbin/qv-init"
  chmod 755 "$tree/sbin/qv-init"
}

# The Debian mirror (suite $guest_suite) and security mirror that this
# machine's apt uses, from its one-line and deb822 source lists.
apt_uri() {
  local suite=$1
  {
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
      awk -v s="$suite" '$1 == "deb" { for (i = 2; i < NF; i++) if ($i !~ /^\[/ && $(i + 1) == s) { print $i; exit } }'
    cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
      awk -v s="$suite" 'BEGIN { RS = "" } /(^|\n)Types:[^\n]*deb([ \n]|$)/ {
        uri = ""; ok = 0; n = split($0, l, "\n")
        for (i = 1; i <= n; i++) {
          if (l[i] ~ /^URIs:/) { split(l[i], u, " "); uri = u[2] }
          if (l[i] ~ /^Suites:/) { m = split(l[i], w, " "); for (j = 2; j <= m; j++) if (w[j] == s) ok = 1 }
        }
        if (ok && uri != "") { print uri; exit } }'
  } | head -n 1
}

recipe_hash() {
  { declare -p guest_suite guest_packages; declare -f guest_init make_guest_tree; } | sha256sum | cut -d' ' -f1
}

if [ "${1:-}" = --make-guest-tree ]; then
  shift
  make_guest_tree "$@"
  exit
fi

scratch=()
while [ "${1:-}" = --scratch ]; do
  [ -n "${2:-}" ] || fail "--scratch needs a folder"
  mkdir -p "$2"
  scratch+=("$(cd "$2" && pwd -P)")
  shift 2
done
[ $# -gt 0 ] || { echo "usage: bash scripts/vm-run.sh [--scratch DIR]... COMMAND [ARG]..."; exit 2; }

remaining() { echo $((deadline - SECONDS > 0 ? deadline - SECONDS : 1)); }

for tool in qemu-system-x86_64 debootstrap mkfs.ext4 e2fsck unshare flock; do
  command -v "$tool" >/dev/null ||
    fail "$tool is missing: install what the emulated machine needs with: bash scripts/install-deps.sh vm"
done
[ "$(id -u)" = 0 ] || fail "making and running the guest needs root (debootstrap, chroot)"

recipe=$(recipe_hash)
mkdir -p "$cache" "$vm" || fail "cannot make the guest cache $cache (QV_VM_CACHE) or $vm"
cache=$(cd "$cache" && pwd -P)
guest=$cache/guest-${recipe:0:16}

# The cache's lock, held while a run checks, makes, removes or opens a guest.
lock_cache() {
  local start=$SECONDS
  exec {lock_fd}>>"$cache/lock" || fail "cannot open the lock file $cache/lock"
  flock -n "$lock_fd" && return
  say "waiting for the lock of the guest cache $cache: another run is making or checking the guest"
  flock -w "$(remaining)" "$lock_fd" ||
    fail "no lock of the guest cache within the limit of $limit s (QV_VM_TIMEOUT)"
  say "got the lock of the guest cache after $((SECONDS - start)) s"
}
unlock_cache() { flock -u "$lock_fd"; exec {lock_fd}>&-; }

# Why the guest in DIR cannot be used, or nothing when it can: a file missing,
# or of another size or checksum than its manifest recorded when it was made
# (the disk image's size only: a checksum of it takes some 20 s), or a disk
# image that e2fsck finds damaged.
guest_problem() {
  local dir=$1 kind name size sum
  [ -f "$dir/manifest" ] || { echo "it has no manifest"; return; }
  for name in vmlinuz initrd.img root.img; do
    grep -q "^file $name " "$dir/manifest" || { echo "its manifest lacks $name"; return; }
  done
  while read -r kind name size sum; do
    [ "$kind" = file ] || continue
    [ -f "$dir/$name" ] || { echo "$name is missing"; return; }
    [ "$(stat -c %s "$dir/$name")" = "$size" ] ||
      { echo "$name has $(stat -c %s "$dir/$name") bytes, $size when it was made"; return; }
    [ "$sum" = - ] || [ "$(sha256sum <"$dir/$name" | cut -d' ' -f1)" = "$sum" ] ||
      { echo "the checksum of $name is not the one recorded when it was made"; return; }
  done <"$dir/manifest"
  e2fsck -fn "$dir/root.img" >/dev/null 2>&1 || echo "its disk image fails e2fsck -fn"
}

# Makes the guest of this recipe in a folder of its own in the cache and moves
# it into place once complete; then removes the guests of other recipes.
# Called with the cache's lock held.
make_guest() {
  local start=$SECONDS mirror security new log rc kernel initrd size old
  mirror=${QV_VM_MIRROR:-$(apt_uri "$guest_suite")}
  mirror=${mirror:-http://deb.debian.org/debian}
  security=$(apt_uri "$guest_suite-security")
  security=${security:-http://deb.debian.org/debian-security}
  new=$cache/.new-${recipe:0:16}-$$
  log=$vm/make-guest.log
  # What a stopped making left behind: no other run makes one now.
  rm -rf "$cache"/.new-*
  mkdir -p "$new/tree"
  say "making the guest in $guest (Debian 12 with Wine, Xvfb and CTest; once per machine, about 4 to 5 minutes), log in $log"
  timeout -k 10 "$(remaining)" unshare --mount --propagation private \
    bash "$0" --make-guest-tree "$new/tree" "$mirror" "$security" >"$log" 2>&1 &
  maker=$!
  # shellcheck disable=SC2064  # the values of now
  trap "kill $maker 2>/dev/null; rm -rf $(printf %q "$new")" EXIT
  # The stage lines of the log as they come.
  tail -n +1 -F --pid=$maker "$log" 2>/dev/null | grep --line-buffered '^vm: '
  wait $maker
  rc=$?
  if [ "$rc" != 0 ]; then
    grep -v '^vm: ' "$log" | tail -n 30 | sed 's/^/  /'
    [ "$rc" = 124 ] && fail "making the guest did not end within the limit of $limit s (QV_VM_TIMEOUT); log in $log"
    fail "making the guest failed (exit $rc); log in $log"
  fi
  kernel=$(ls "$new"/tree/boot/vmlinuz-* 2>/dev/null | sort -V | tail -n 1)
  initrd=$(ls "$new"/tree/boot/initrd.img-* 2>/dev/null | sort -V | tail -n 1)
  [ -n "$kernel" ] && [ -n "$initrd" ] || fail "the guest has no kernel or initrd in /boot; log in $log"
  cp "$kernel" "$new/vmlinuz" && cp "$initrd" "$new/initrd.img" || fail "cannot copy the guest's kernel and initrd"
  size=$(( $(du -sm "$new/tree" | cut -f1) + 1024 ))
  truncate -s "${size}M" "$new/root.img"
  mkfs.ext4 -q -F -L qv-guest -d "$new/tree" "$new/root.img" >>"$log" 2>&1 ||
    fail "mkfs.ext4 could not make the guest's disk image; log in $log"
  rm -rf "$new/tree"
  {
    echo "recipe $recipe"
    echo "id $(date +%s)-$$-$RANDOM"
    echo "made $(date '+%F %T') in $((SECONDS - start)) s"
    for name in vmlinuz initrd.img; do
      echo "file $name $(stat -c %s "$new/$name") $(sha256sum <"$new/$name" | cut -d' ' -f1)"
    done
    echo "file root.img $(stat -c %s "$new/root.img") -"
  } >"$new/manifest" || fail "cannot write the guest's manifest in $new"
  rm -rf "$guest"
  mv "$new" "$guest" || fail "cannot move the new guest into place, $guest"
  trap - EXIT
  say "guest made in $((SECONDS - start)) s ($size MB disk image)"
  for old in "$cache"/guest-*; do
    [ "$old" = "$guest" ] || { rm -rf "$old"; say "removed the guest of another recipe, $old"; }
  done
}

# Takes the guest into use: under the cache's lock, checks it, makes it when
# it is missing or cannot be used, and opens its files. With an argument, the
# id of a guest that did not come up: that one is removed first, unless
# another run has made the guest again meanwhile. QEMU reads the files through
# the open descriptors (/dev/fd/N), so a guest that another run removes later
# stays whole for this one, and its space is freed when the last such run ends.
use_guest() {
  local bad=${1:-} problem start
  lock_cache
  start=$SECONDS
  if [ -n "$bad" ] && [ "$(grep '^id ' "$guest/manifest" 2>/dev/null)" = "$bad" ]; then
    rm -rf "$guest"
  fi
  if [ -d "$guest" ]; then
    problem=$(guest_problem "$guest")
    if [ -n "$problem" ]; then
      say "the guest in $guest cannot be used: $problem; it is removed and made again"
      rm -rf "$guest"
    else
      say "using the guest in $guest, made $(sed -n 's/^made //p' "$guest/manifest") (checked in $((SECONDS - start)) s)"
    fi
  fi
  [ -d "$guest" ] || make_guest
  [ -z "${img_fd:-}" ] || exec {kernel_fd}<&- {initrd_fd}<&- {img_fd}<&-
  exec {kernel_fd}<"$guest/vmlinuz" {initrd_fd}<"$guest/initrd.img" {img_fd}<"$guest/root.img" ||
    fail "cannot open the guest's files in $guest"
  guest_id=$(grep '^id ' "$guest/manifest")
  unlock_cache
}

# The folders the guest shares: the work tree, and the build folder when it
# lies outside it. The current folder must be in one of them.
shares=("$root")
case $build/ in "$root"/*) ;; *) shares+=("$build") ;; esac
cwd=$(pwd -P)
inside=0
for s in "${shares[@]}"; do case $cwd/ in "$s"/*) inside=1 ;; esac; done
[ "$inside" = 1 ] || fail "the current folder $cwd is not shared with the guest (${shares[*]})"

# The job, run by the guest's init: mounts what programs expect, the shared
# and scratch folders, sets the environment and runs the command, its output
# going to the second serial port.
write_job() {
  local i s d v
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
  for v in LANG LANGUAGE LC_ALL; do [ -z "${!v:-}" ] || printf 'export %s=%q\n' "$v" "${!v}"; done
  while read -r v; do printf 'export %s=%q\n' "$v" "${!v}"; done < <(compgen -e | grep '^QV_' | grep -vx 'QV_IN_VM')
  printf 'cd %q || exit 1\n' "$cwd"
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
  say "booting the guest (QEMU x86-64, no KVM, $cpus CPUs, $memory MB), then: $*"
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
