#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Boots one of the cached kernels under qemu (software emulation) with a
# busybox initramfs, runs a scenario script in it and keeps what the serial
# console showed, and the kernel's whole log beside it.
#   vm.sh <kernel folder> <cpus> <scenario.sh> <transcript> [file...]
# The kernel folder is one that kernel_modules/tools/kernels.sh or
# debug-kernel.sh filled; its architecture (kernel_modules/tools/arches.sh)
# chooses qemu, the machine, the console, the busybox (another architecture's
# kernel folder has its own) and where programs' libraries come from. The
# files land in /root, the scenario's working folder; programs among them
# bring their loader and libraries along. The transcript has the
# console's lines without their carriage returns; the scenario's own output
# is between the marks "scenario begin" and "scenario end <status>" (marks.sh,
# which /init and the scenario find in /).
# <transcript>.klog gets the kernel's log, from boot to the scenario's end
# whatever the scenario clears, then kmemleak's findings where the kernel
# has kmemleak; reports.awk sorts the reports in it, against BASELINE when
# set (the log of the same scenario run without the modules). A VM that
# hangs or crashes leaves only the console, which shows the kernel's
# gravest lines; an oops, which may leave the scenario hung, panics the
# kernel (oops=panic) and ends the VM at once. One that hangs or crashes
# before the scenario began (within
# VM_BOOT_LIMIT seconds), when nothing of the modules has run, is booted
# again, VM_BOOTS times in all, and what each boot showed is said. The
# scenario gets VM_SCENARIO_LIMIT seconds from its start to the VM's end; one
# that runs out of them is stopped, and the last mark it printed said. The
# limits come from vm-limits beside this file unless the environment sets
# them; VM_STAGE, when set, names the run in every message (a baseline, say).
# Ends with 0 when the scenario ran to its end (whatever its status), the
# log holds no report about the modules among the files and every checker
# the kernel was built with was active; with 77 (skipped) when a module to
# load could not be built for the kernel where the suite runs (the kernel
# folder, or an unavailable file beside the module, says why).
set -euo pipefail
. "$(dirname "$0")/../../shell/common.sh"
defaults "$(dirname "$0")/vm-limits"
ME="vm.sh${VM_STAGE:+ ($VM_STAGE)}"
. "$(dirname "$0")/../../kernel_modules/tools/arches.sh"
. "$(dirname "$0")/marks.sh"
[ $# -ge 4 ] || die "usage: vm.sh <kernel folder> <cpus> <scenario.sh> <transcript> [file...]"
kernel=$1 cpus=$2 scenario=$3 transcript=$4
shift 4
arch=$(arch_of "$kernel")
field() { arch_field "$arch" "$1" || die "no architecture $arch in arches.sh"; }
qemu=$(field qemu)
command -v "$qemu" >/dev/null ||
    die "$qemu is missing: run scripts/setup.sh (Debian package $(field package))"
for tool in cpio gzip; do
    command -v $tool >/dev/null || die "$tool is missing: run scripts/setup.sh"
done
busybox=/bin/busybox
[ ! -f "$kernel/busybox" ] || busybox=$kernel/busybox
dynamic() { readelf -l "$1" 2>/dev/null | grep -q INTERP; }
# shellcheck disable=SC2310 # dynamic is one pipeline, a test
[ -x "$busybox" ] && ! dynamic "$busybox" ||
    die "$busybox is not a static busybox: run scripts/setup.sh (Debian package busybox-static)"
[ -f "$kernel/vmlinuz" ] || die "no kernel image in $kernel: the build makes it (kernel_modules/tools/)"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root"/{bin,dev,proc,sys,tmp,root,lib}
cp "$busybox" "$root/bin/busybox"
# The applets' links made here: a kernel with checkers takes seconds to.
# This machine's busybox names them (another architecture's cannot run here).
for applet in $(/bin/busybox --list); do
    [ -e "$root/bin/$applet" ] || ln -s busybox "$root/bin/$applet"
done
cp "$scenario" "$root/root/scenario.sh"
cp "$(dirname "$0")/marks.sh" "$root/"
libs=$(field libs)/lib
[ "$libs" != -/lib ] || libs=/lib/$(field triplet)
for f in "$@"; do
    # The reason is the kernel folder's, or the build's (kept beside the module).
    for why in "$kernel/unavailable" "$(dirname "$f")/unavailable"; do
        [ -f "$f" ] || [ ! -f "$why" ] ||
            { echo "SKIP: $(basename "$f") was not built for $(cat "$kernel/release"): $(cat "$why")" && exit 77; }
    done
    [ -f "$f" ] || die "missing file for the VM: $f"
    cp "$f" "$root/root/"
    # A dynamically linked program needs its loader, where the program names
    # it, and its libraries, in /lib: this machine's or another
    # architecture's, from its root.
    # shellcheck disable=SC2310 # dynamic is one pipeline, a test
    dynamic "$f" || continue
    loader=$(readelf -l "$f" | sed -n 's/.*interpreter: \([^]]*\)\]$/\1/p')
    mkdir -p "$root$(dirname "$loader")"
    cp -L "$libs/$(basename "$loader")" "$root$loader"
    for lib in $(readelf -d "$f" | sed -n 's/.*Shared library: \[\(.*\)\]$/\1/p'); do
        cp -L "$libs/$lib" "$root/lib/"
    done
done
cat >"$root/init" <<'INIT'
#!/bin/busybox sh
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t debugfs debugfs /sys/kernel/debug 2>/dev/null
. /marks.sh
# The kernel's log, whole whatever the scenario clears, read as it comes by
# a reader that runs ahead of the scenario's processes. When it falls behind
# all the same, reading /dev/kmsg fails once and resumes at the oldest record
# kept.
renice -20 -p $$ >/dev/null
while cat /dev/kmsg >>/kmsg; [ $? -eq 1 ]; do :; done 2>/dev/null &
renice 0 -p $$ >/dev/null
cd /root
mark scenario begin >/dev/kmsg
# On a line of its own: powerpc's firmware leaves the console mid-line.
echo
mark scenario begin
sh ./scenario.sh
mark scenario end $?
leaks=/sys/kernel/debug/kmemleak
if [ -e $leaks ]; then
    # A leak shows from the second scan on, in objects 5 s old or more (the
    # scenario's last ones too, 6 s after its end).
    end=$(cut -d. -f1 /proc/uptime)
    echo scan >$leaks
    wait=$((end + 6 - $(cut -d. -f1 /proc/uptime)))
    [ $wait -le 0 ] || sleep $wait
    echo scan >$leaks && scanned=1
fi
# The reader has all once it has passed this mark; only what it wrote since
# the mark went in is searched for it (records may still follow it).
size=$(wc -c </kmsg)
mark kernel log end >/dev/kmsg
until tail -c +$((size + 1)) /kmsg | grep -q ";$(mark kernel log end)\$"; do sleep 0.1; done
# Compressed for the second serial port, which carries some 50 kB/s,
# between marks on lines of their own (s390's line-mode console carries the
# kernel's first lines too, the Raspberry Pi's mini UART makes noise). Its
# last close waits until all that was written has gone out, but for s390's
# line-mode console, whose rest a setting made after draining (stty's)
# waits for.
{ echo; mark kernel log; { cat /kmsg; [ -n "$scanned" ] && mark kmemleak && cat $leaks; } | gzip | base64
    mark kernel log sent; } >/dev/ttyS1
stty -F /dev/ttyS1 -echo
reboot -f
INIT
# The kernel's log leaves by the architecture's second port.
sed -i "s|/dev/ttyS1|/dev/$(field logport)|" "$root/init"
chmod +x "$root/init" "$root/bin/busybox"
# Uncompressed: a kernel with checkers takes seconds to inflate it.
(cd "$root" && find . | cpio -o -H newc --quiet) >"$root.img"
trap 'rm -rf "$root" "$root.img"' EXIT

raw=$transcript.raw
rm -f "$raw" "$raw.klog"
status=0
# A log buffer of 4 MB (130,000 records) lets the log reader catch up after
# bursts: a driver logging each call from four processes outruns it.
# The machine's own memory size, where the row names one, comes after ours;
# a device tree the kernel folder brings is booted with.
read -ra machine <<<"$(field machine)"
[ ! -f "$kernel/dtb" ] || machine+=(-dtb "$kernel/dtb")
read -ra port <<<"$(field port)"
port=("${port[@]//@FILE@/$raw.klog}")
timeout $((VM_BOOT_LIMIT + VM_SCENARIO_LIMIT + 10)) "$qemu" -m 256 "${machine[@]}" -smp "$cpus" \
    -kernel "$kernel/vmlinuz" -initrd "$root.img" \
    -append "console=$(field console) loglevel=3 printk.time=0 oops=panic panic=-1 log_buf_len=4M" \
    -display none -serial file:"$raw" "${port[@]}" -no-reboot </dev/null &
# The boot's limit until the scenario begins, then the scenario's; qemu's end
# or a panic ends either. Looked at each second: the emulator needs the CPU.
panic='Kernel panic - not syncing'
over() { sleep 1 && { ! kill -0 $vm 2>/dev/null || grep -q "$panic" "$raw" 2>/dev/null; }; }
# shellcheck disable=SC2310 # over is one list, a test
begun() { over || grep -q "^$(mark scenario begin)" "$raw" 2>/dev/null; }
vm=$! start=$SECONDS late=
(await "$VM_BOOT_LIMIT" "the scenario's start" begun 2>/dev/null) || late=boot
[ -n "$late" ] || (await "$VM_SCENARIO_LIMIT" "the VM's end" over 2>/dev/null) || late=scenario
kill $vm 2>/dev/null || true # after a limit or a panic
wait $vm || status=$?
took=$((SECONDS - start))
tr -d '\r' <"$raw" >"$transcript"
gravest() {
    { grep -E 'Kernel panic|Oops|BUG|RIP:|general protection|int3|WARNING' "$transcript" ||
        tail -n 5 "$transcript"; } | head -n 8 | sed 's/^/    /'
}
# The emulator's faults and the kernel's own early init are not the
# modules': what this boot showed is said, and the kernel booted again.
if ! marked "scenario begin" "$transcript"; then
    boot=${VM_BOOT:-1}
    echo "$ME: boot $boot of $VM_BOOTS $([ -n "$late" ] && echo "hung for $VM_BOOT_LIMIT s (VM_BOOT_LIMIT)" ||
        echo "ended (qemu status $status)") before the scenario began; its console's gravest lines:"
    gravest
    [ "$boot" -lt "$VM_BOOTS" ] ||
        die_with_log "$transcript" "the kernel did not boot to the scenario $VM_BOOTS times"
    rm -rf "$root" "$root.img" "$raw" "$raw.klog"
    VM_BOOT=$((boot + 1)) exec "$0" "$kernel" "$cpus" "$scenario" "$transcript" "$@"
fi
# /dev/kmsg's records ("<level>,<sequence>,<time>,<flags>;<text>", line
# ends and tabs within as \x0a and \x09) up to the end mark, as
# "<level><text>", each once; a gap in the sequence is counted. Then
# kmemleak's list.
tr -d '\r' <"$raw.klog" | sed -n "/^$(mark kernel log)\$/,/^$(mark kernel log sent)\$/{//!p}" |
    { base64 -d | gunzip; } 2>/dev/null | awk '
    BEGIN { last = -1 }
    /^@@ kmemleak$/ { tail = 1 }
    tail { print; next }
    done || /^ / { next } # after the end; the device a record came from
    {
        split(substr($0, 1, index($0, ";") - 1), head, ",")
        if (head[2] <= last)
            next
        if (head[2] > last + 1)
            print "@@ kernel log lost " head[2] - last - 1 " records"
        last = head[2]
        text = substr($0, index($0, ";") + 1)
        gsub(/\\x0a/, "\n", text)
        gsub(/\\x09/, "\t", text)
        print "<" head[1] ">" text
        done = text == "@@ kernel log end"
    }' >"$transcript.klog" || true
rm -f "$raw" "$raw.klog"
last="its mark '$(grep "^$(mark)" "$transcript" | tail -n 1)'"
[ -z "$late" ] || echo "$ME: the scenario ran out of its $VM_SCENARIO_LIMIT s (VM_SCENARIO_LIMIT) after $last" >&2
! grep -q "$panic" "$transcript" ||
    { echo "$ME: the kernel panicked $took s after qemu's start, after $last; its console's gravest lines:" && gravest; } >&2
if [ -z "$(after "scenario end" "$transcript")" ]; then
    die_with_log "$transcript" "the scenario did not run to its end (qemu status $status)"
fi
grep -q "$(mark kernel log end)\$" "$transcript.klog" || die "the kernel's log did not come through to its end"
modules=$(for f in "$@"; do [[ $f != *.ko ]] || basename "$f" .ko; done | paste -sd' ')
awk -v modules="$modules" -v config="$kernel/kdir/.config" -v baseline="${BASELINE:-}" \
    -v scenario_status="$(after "scenario end" "$transcript")" -f "$(dirname "$0")/reports.awk" "$transcript.klog"
