#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# turnpair's log and a devpoke dialogue with the qvx_device driver, from
# Debian's Linux 5.10 booted under qemu, and the kernels they are built for.
set -euo pipefail
echo "== kernel: turnpair, then devpoke with the qvx_device driver (Linux 5.10 under qemu)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The workers' names as the module has them.
names=$(sed -n 's/^#define TURNPAIR_[A-Z]*_WORKER "\(.*\)"$/\1/p' kernel_modules/kthreads/turnpair.h | paste -sd'|')
{ echo "names='$names'" && cat; } >"$work/scenario.sh" <<'SCENARIO'
. /marks.sh
mark begin demo
echo "# insmod turnpair.ko; both workers end; rmmod turnpair; dmesg:"
dmesg -c >/dev/null
insmod turnpair.ko
while grep -qxE "$names" /proc/[0-9]*/comm 2>/dev/null; do sleep 0.1; done
rmmod turnpair
dmesg -c | grep -vE '^(turnpair|qvx_device): (loading|module verification)' | sed 's/^/    /'

echo "# insmod qvx_device.ko; devpoke, the user entering 1, 2 and 0:"
insmod qvx_device.ko
dmesg -c >/dev/null
mkfifo in
./devpoke <in >out &
pid=$!
exec 3>in
for line in 1 2 0; do
    # Each line once devpoke waits for it: it drops input read ahead.
    until read -r nr fd rest </proc/$pid/syscall && [ "$nr $fd" = "0 0x0" ]; do sleep 0.02; done
    echo $line >&3
done
exec 3>&-
wait $pid
sed 's/^/    /' out
echo "# what the driver logged:"
dmesg -c | sed 's/^/    /'
mark end demo
SCENARIO
cache=$(sed -n 's/^KERNEL_CACHE:PATH=//p' "$BUILD/CMakeCache.txt")
. tests/kernel_modules/marks.sh
# vm.sh ends with how many reports the kernel's log held besides the
# modules' (reports.awk), which the tests want and the demonstration does not.
tests/kernel_modules/vm.sh "$cache/5.10" 2 "$work/scenario.sh" "$work/console" \
    "$BUILD/kernel_modules/5.10/turnpair.ko" "$BUILD/kernel_modules/5.10/qvx_device.ko" \
    "$BUILD/device_client/devpoke" | sed "/^[0-9]* report(s) of the kernel's own/,\$d"
between demo "$work/console"
echo "# both modules are built, each by its kernel's own compiler, for:"
while read -r series; do
    [ -f "$BUILD/kernel_modules/$series/turnpair.ko" ] || continue
    printf '    %-11s %s, %s\n' "$series" "$(cat "$cache/$series/release")" "$(cut -d' ' -f1,4 "$cache/$series/compiler")"
done <"$BUILD/kernel_modules/series"
