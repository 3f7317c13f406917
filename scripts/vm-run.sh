#!/usr/bin/env bash
# Runs a command of this work tree in an emulated machine: a Debian 12 guest
# (QV_VM_DEBIAN=13: 13) with 32-bit Wine, Xvfb and CTest, made by debvm-create
# into the cache of scripts/debian-root.sh, booted by debvm-run (no KVM) on a
# snapshot of its disk in a PID namespace that ends with the run, the work
# tree, build and git folders at the same paths (9p). The command goes over
# SSH, its output live, its exit status this script's; QV_*, CI, locale pass on.
#   bash scripts/vm-run.sh [--scratch DIR]... COMMAND [ARG]... | --sources
# --scratch DIR: a folder on an ext4 disk made for the run (9p drops the
# extended attributes where Wine keeps DOS attributes). --sources: prints the
# apt sources the guest is made from, which QV_VM_FROM then hands to a run.
# QV_BUILD_DIR, QV_VM_TIMEOUT (3600 s), QV_VM_BOOT_TIMEOUT (600 s),
# QV_VM_MEMORY (4096 MB), QV_VM_CPUS (2); logs in <build>/vm.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd -P)
mkdir -p "${QV_BUILD_DIR:-$root/build}/vm" && build=$(cd "${QV_BUILD_DIR:-$root/build}" && pwd -P)
run=$build/vm/run qv_who=vm qv_log=$build/vm/make-guest.log
# shellcheck source=debian-root.sh
source "$root/scripts/debian-root.sh"
declare -A suites=([12]=bookworm [13]=trixie)
suite=${suites[${QV_VM_DEBIAN:=12}]:-} && [ -n "$suite" ] || qv_fail "QV_VM_DEBIAN is 12 (the default) or 13, not '$QV_VM_DEBIAN'"

# The guest, with the generic kernel (the cloud one has no 9p); its image made
# by mkfs.ext4 (Debian 12's debvm uses genext2fs, which crawls on 2.4 GB); its
# initramfs holds only what mounts the root (all modules: a minute, 3 times).
packages=linux-image-amd64,wine,wine32:i386,xvfb,xauth,locales,cmake,python3,python3-pefile,imagemagick,procps,strace
make_guest() {
  ssh-keygen -q -t ed25519 -N '' -C qv-guest -f "$1/key" &&
    debvm-create -r "$suite" -o "$1/tree" -k "$1/key.pub" -h qv-guest -s packagelists,ext4 -- --format=directory \
      --architectures=amd64,i386 --include="$packages" --hook-dir=/usr/share/mmdebstrap/hooks/eatmydata \
      --setup-hook='mkdir -p "$1/etc/initramfs-tools/conf.d" && echo MODULES=list >"$1/etc/initramfs-tools/conf.d/qv"' \
      --customize-hook='printf "virtio_pci\nvirtio_blk\next4\n" >>"$1/etc/initramfs-tools/modules" && chroot "$1" update-initramfs -u' \
      --customize-hook='printf "en_US.UTF-8 UTF-8\nru_RU.UTF-8 UTF-8\n" >"$1/etc/locale.gen" && chroot "$1" locale-gen' \
      - < <(grep '^deb' <<<"$qv_from") && chroot "$1/tree" dpkg-query -W -f='${Version}' wine >"$1/wine-version" &&
    truncate -s "$(($(du -sm "$1/tree" | cut -f1) + 1024))M" "$1/guest.ext4" &&
    mkfs.ext4 -q -L debvm -d "$1/tree" "$1/guest.ext4" && rm -rf --one-file-system "$1/tree"
}

[ "${1:-}" != --inside ] || { guest=$2 && shift 2; }
scratch=()
while [ "${1:-}" = --scratch ]; do
  [ -n "${2:-}" ] && mkdir -p "$2" && scratch+=("$(cd "$2" && pwd -P)") || qv_fail "--scratch needs a folder"
  shift 2
done
[ $# -gt 0 ] || { echo "usage: bash scripts/vm-run.sh [--scratch DIR]... COMMAND [ARG]..."; exit 2; }
qv_share_folders "$root" "$build"
if [ -z "${guest:-}" ]; then
  hash debvm-create debvm-run debvm-waitssh ssh mkfs.ext4 setpriv 2>/dev/null ||
    qv_fail "debvm, QEMU or ssh is missing: install what the emulated machine needs with: bash scripts/install-deps.sh vm"
  [ "$(id -u)" = 0 ] || qv_fail "making the guest needs root (mmdebstrap)"
  recipe=$(declare -p suite packages; declare -f make_guest) qv_from=${QV_VM_FROM:-}
  [ -n "$qv_from" ] || qv_pick_sources "$suite" amd64,i386 "debvm-guest$QV_VM_DEBIAN" "$recipe"
  [ "$1" != --sources ] || { echo "$qv_from"; exit 0; }
  qv_cached "debvm-guest$QV_VM_DEBIAN" "$recipe" make_guest
  rm -rf "$run" && mkdir -p "$run" || qv_fail "cannot make $run"
  {
    declare -p qv_shares scratch
    cat <<'JOB'
modprobe 9pnet_virtio && mkdir -p /mnt/scratch || exit 1
for i in "${!qv_shares[@]}"; do mkdir -p "${qv_shares[i]}" &&
  mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,cache=loose "qv$i" "${qv_shares[i]}" || exit 1; done
((${#scratch[@]} == 0)) || mount LABEL=qv-scratch /mnt/scratch || exit 1
for i in "${!scratch[@]}"; do mkdir -p "/mnt/scratch/$i" "${scratch[i]}" && mount --bind "/mnt/scratch/$i" "${scratch[i]}" || exit 1; done
JOB
    qv_job QV_IN_VM=1 TERM=dumb -- "$@"
    echo '2>&1; status=$?; sync; exit $status'
  } >"$run/job.sh"
  ((${#scratch[@]} == 0)) || { truncate -s 16G "$run/scratch.img" && mkfs.ext4 -q -L qv-scratch "$run/scratch.img"; } ||
    qv_fail "mkfs.ext4 could not make the scratch disk in $run"
  qv_in_namespace "$qv_entry" "$@"
fi

# In the run's PID namespace: boots the guest, waits for SSH on a free port.
cpus=${QV_VM_CPUS:-2} memory=${QV_VM_MEMORY:-4096} port=$((20000 + RANDOM % 20000))
while (: <"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((20000 + RANDOM % 20000)); done
# SMAP and SMEP off: with SMAP every 32-bit Wine process dies at once under
# this emulation (an oops on its return to user mode); 5-level paging off (20%
# slower Wine); no KVM (QEMU aborts where /dev/kvm does not work); a quiet
# kernel (the serial console is slow) without the costly mitigations.
qemu=(-snapshot -no-reboot -cpu max,-smap,-smep,-la57 -machine accel=tcg -smp "$cpus" -m "$memory"
  -append "root=LABEL=debvm rw console=ttyS0 quiet mitigations=off")
[ ! -f "$run/scratch.img" ] || qemu+=(-drive "file=$run/scratch.img,format=raw,if=virtio,snapshot=off")
for i in "${!qv_shares[@]}"; do qemu+=(-virtfs "local,path=${qv_shares[i]},mount_tag=qv$i,security_model=none,id=qv$i"); done
qv_say "booting the guest (Debian $QV_VM_DEBIAN, Wine $(sed 's/[~+-].*//' "$guest/wine-version"); QEMU x86-64, no KVM, $cpus CPUs, $memory MB), then: $*"
TMPDIR=$run debvm-run -i "$guest/guest.ext4" -s "$port" -- "${qemu[@]}" </dev/null >"$run/console.log" 2>&1 &
vm=$! start=$SECONDS
until debvm-waitssh -q -t 10 "$port"; do
  kill -0 $vm 2>/dev/null && ((SECONDS - start < ${QV_VM_BOOT_TIMEOUT:-600})) && continue
  tail -n 20 "$run/console.log" | sed 's/^/  console: /'
  qv_fail "the guest's SSH server did not answer within $((SECONDS - start)) s (QV_VM_BOOT_TIMEOUT); logs in $run"
done
qv_say "guest up after $((SECONDS - start)) s"
timeout "${QV_VM_TIMEOUT:-3600}" ssh -n -T -p "$port" -i "$guest/key" -o BatchMode=yes -o StrictHostKeyChecking=no \
  -o UserKnownHostsFile=/dev/null -o LogLevel=ERROR root@127.0.0.1 "bash -c $(printf %q "$(cat "$run/job.sh")")"
status=$?
rm -f "$run/scratch.img"
[ "$status" != 124 ] || qv_fail "no result within ${QV_VM_TIMEOUT:-3600} s (QV_VM_TIMEOUT): the emulated machine was stopped"
[ "$status" != 255 ] || qv_fail "the connection to the guest failed (ssh); logs in $run"
qv_say "the command ended in the guest with exit code $status"
exit "$status"
