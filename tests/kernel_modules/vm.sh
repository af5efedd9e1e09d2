#!/usr/bin/env bash
# Boots one of the cached Debian kernels under qemu (software emulation) with
# a busybox initramfs, runs a scenario script in it and keeps what the serial
# console showed.
#   vm.sh <kernel folder> <cpus> <scenario.sh> <transcript> [file...]
# The kernel folder is one that scripts/kernels.sh filled. The files land in
# /root, the scenario's working folder; programs among them bring their loader
# and libraries along. The transcript has the console's lines without their
# carriage returns; the scenario's own output is between the markers
# "@@ scenario begin" and "@@ scenario end <status>".
# Ends with 0 when the scenario ran to its end (whatever its status), and
# with 77 (skipped) when a module to load could not be built for the kernel
# where the suite runs (the kernel folder says why).
set -euo pipefail

die() { echo "vm.sh: $*" >&2; exit 1; }
[ $# -ge 4 ] || die "usage: vm.sh <kernel folder> <cpus> <scenario.sh> <transcript> [file...]"
kernel=$1 cpus=$2 scenario=$3 transcript=$4
shift 4
command -v qemu-system-x86_64 >/dev/null ||
    die "qemu-system-x86_64 is missing: run scripts/setup.sh (Debian package qemu-system-x86)"
for tool in cpio gzip; do
    command -v $tool >/dev/null || die "$tool is missing: run scripts/setup.sh"
done
busybox=/bin/busybox
dynamic() { readelf -l "$1" 2>/dev/null | grep -q INTERP; }
[ -x "$busybox" ] && ! dynamic "$busybox" ||
    die "$busybox is not a static busybox: run scripts/setup.sh (Debian package busybox-static)"
[ -f "$kernel/vmlinuz" ] || die "no kernel image in $kernel: the build fetches it (scripts/kernels.sh)"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root"/{bin,dev,proc,sys,tmp,root}
cp "$busybox" "$root/bin/busybox"
cp "$scenario" "$root/root/scenario.sh"
for f in "$@"; do
    if [ ! -f "$f" ] && [ -f "$kernel/unavailable" ]; then
        echo "SKIP: $(basename "$f") was not built for $(cat "$kernel/release"): $(cat "$kernel/unavailable")"
        exit 77
    fi
    [ -f "$f" ] || die "missing file for the VM: $f"
    cp "$f" "$root/root/"
    # A dynamically linked program needs its loader and libraries.
    if dynamic "$f"; then
        for lib in $(ldd "$f" | grep -o '/[^ ]*'); do
            mkdir -p "$root$(dirname "$lib")"
            cp -L "$lib" "$root$lib"
        done
    fi
done
cat >"$root/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
cd /root
echo "@@ scenario begin"
sh ./scenario.sh
echo "@@ scenario end $?"
reboot -f
INIT
chmod +x "$root/init" "$root/bin/busybox"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$root.img"
trap 'rm -rf "$root" "$root.img"' EXIT

raw=$transcript.raw
rm -f "$raw"
status=0
timeout "${VM_TIMEOUT:-120}" qemu-system-x86_64 -accel tcg -m 256 -smp "$cpus" \
    -kernel "$kernel/vmlinuz" -initrd "$root.img" \
    -append "console=ttyS0 loglevel=3 printk.time=0 panic=-1" \
    -display none -serial file:"$raw" -no-reboot </dev/null || status=$?
tr -d '\r' <"$raw" >"$transcript"
rm -f "$raw"
if ! grep -q '^@@ scenario end' "$transcript"; then
    [ $status -eq 124 ] && echo "vm.sh: the VM did not finish within ${VM_TIMEOUT:-120} s" >&2
    echo "vm.sh: the scenario did not run to its end (qemu status $status); the console's last lines:" >&2
    tail -n 30 "$transcript" >&2
    exit 1
fi
