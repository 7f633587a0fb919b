#!/usr/bin/env bash
# Attaches a 64 MiB disk image with an MBR partition table (a primary partition, a bootable
# FAT32 one, an extended one with two logical drives) to a loop device, mounts the first
# partition, and runs the Linux layer's loop-device tests against it. Needs root and loop
# devices; says so and skips (exit 77) without them.
set -u
tests=${1:?usage: loop_device.sh path/to/kyvex_tests}

skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "the loop-device test needs root (losetup, mount)"
for tool in losetup sfdisk; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done

work=$(mktemp -d)
loop=""
made_node=""
mounted=""
cleanup() {
  [ -n "$mounted" ] && umount "$work/mnt" 2>/dev/null
  [ -n "$made_node" ] && rm -f "$made_node"
  if [ -n "$loop" ]; then
    partx -d "$loop" >/dev/null 2>&1
    losetup -d "$loop" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

truncate -s 64M "$work/disk.img"
sfdisk -q "$work/disk.img" <<'TABLE' || skip "sfdisk could not write the partition table"
label: dos
start=2048, size=32768, type=83
start=34816, size=32768, type=c, bootable
start=67584, type=5
size=32768, type=7
type=82
TABLE

loop=$(losetup -f --show -P "$work/disk.img" 2>/dev/null) || { loop=""; skip "no loop device could be attached"; }
[ -b "$loop" ] || skip "$loop has no device node here"
name=$(basename "$loop")

# Partition nodes come from the kernel's scan; some sandboxes need asking and have no udev.
partx -a "$loop" >/dev/null 2>&1
for _ in $(seq 30); do
  [ -e "/sys/block/$name/${name}p1/dev" ] && break
  sleep 0.1
done
partition=""
if [ -e "/sys/block/$name/${name}p1/dev" ]; then
  node="/dev/${name}p1"
  if [ ! -b "$node" ]; then
    IFS=: read -r major minor < "/sys/block/$name/${name}p1/dev"
    mknod "$node" b "$major" "$minor" && made_node=$node
  fi
  mkdir -p "$work/mnt"
  if command -v mkfs.ext4 >/dev/null 2>&1 && mkfs.ext4 -q -F "$node" >/dev/null 2>&1 &&
     mount "$node" "$work/mnt" 2>/dev/null; then
    mounted=1
    partition=$node
  else
    echo "note: ${node} could not be formatted and mounted; volume extents are not checked"
  fi
else
  echo "note: the kernel did not scan the partitions of $loop; volume extents are not checked"
fi

KYVEX_LOOP_DISK=$loop KYVEX_LOOP_PARTITION=$partition "$tests" --gtest_filter='LinuxLoopDevice.*'
