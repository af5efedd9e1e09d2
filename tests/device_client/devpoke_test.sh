#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# devpoke's conversations with the driver of /dev/qvx_device: one table of
# dialogues, each fed line by line (devpoke discards buffered input before
# every read, so each line waits until devpoke blocks reading), checked for
# devpoke's output, its complaints, its status and what the driver saw.
#   devpoke_test.sh fake <devpoke linked with the stand-in driver>
#   devpoke_test.sh vm <kernel folder> <cpus> <devpoke> <qvx_device.ko>
#   devpoke_test.sh absent <devpoke>     no driver on this machine
#   devpoke_test.sh abi <devpoke> <folder of qvx_device.h>
# or, in a VM that other scenarios share (devpoke, qvx_device.ko and, with
# "stress", qvx_stress in its /root):
#   devpoke_test.sh vm-scenario [stress]          prints the scenario for vm.sh
#   devpoke_test.sh vm-check <console> [stress]   checks the VM's console
# With "stress" the dialogues are followed by 4 processes doing 5,000
# write/read pairs each at once, and an unload while the device is open.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

opening=$'*********************************\n\nOpening Driver\n'
menu=$'Enter the Value to send \n 1 - write \n 2 - read  \n'
writing=$'Writing Value to Driver\n' reading=$'Reading Value from Driver\n'
closing=$'Closing Driver\n'
no_device="devpoke: cannot open /dev/qvx_device: No such file or directory"

expected() {
    local ok=$'@@ stderr\n@@ status 0\n@@ driver\n'
    printf '@@ case write-read\n%s' "$opening$menu$writing$menu$reading"$'Value is 1\n'"$menu$closing$ok"
    printf 'qvx_device: write 1\nqvx_device: read 1\nqvx_device: release\n'
    printf '@@ case two-on-one-line\n%s' "$opening$menu$writing$menu$closing$ok"
    printf 'qvx_device: write 1\nqvx_device: release\n'
    printf '@@ case burst-then-end\n%s' "$opening$menu$writing$menu$closing$ok"
    printf 'qvx_device: write 1\nqvx_device: release\n'
    for name in aliases-1 aliases-2 junk-first; do
        printf '@@ case %s\n%s' $name "$opening$menu$closing$ok"
        printf 'qvx_device: release\n'
    done
    printf '@@ case junk-repeats\n%s' "$opening$menu$reading"$'Value is 0\n'"$menu$reading"$'Value is 0\n'"$menu$closing$ok"
    printf 'qvx_device: read 0\nqvx_device: read 0\nqvx_device: release\n'
    printf '@@ case refused-read\n%s' "$opening$menu$reading$menu$closing"
    printf '@@ stderr\ndevpoke: the driver refused the read: Operation not permitted\n@@ status 0\n'
    printf '@@ driver\nqvx_device: read refused\nqvx_device: release\n'
    printf '@@ case no-driver\n%s' "${opening}Cannot open device file..."$'\n'
    printf '@@ stderr\n%s\n@@ status 1\n@@ driver\n' "$no_device"
    [ -z "${stress:-}" ] || printf '%s\n' '@@ case stress' 'qvx_stress: 4 processes x 5000 write/read pairs' \
        '@@ status 0' '@@ case unload-held-open' 'refused while open' 'unloaded once closed'
}

# The dialogues, as a script for busybox sh or any POSIX shell; driver and
# driver_log come before it.
dialogues() {
    cat <<'SCRIPT'
trap '' PIPE
# Waits until process $1 blocks reading its standard input; fails once it
# has ended.
await_read() {
    while :; do
        { read -r nr fd rest <"/proc/$1/syscall"; } 2>/dev/null || return 1
        [ "$nr $fd" = "0 0x0" ] && return 0
        case $(cut -d' ' -f3 "/proc/$1/stat") in Z | X) return 1 ;; esac
        sleep 0.02
    done
}
dialogue() {
    name=$1 mode=$2
    shift 2
    driver "$mode"
    rm -f in && mkfifo in
    # Limited output: a devpoke looping on at end of input fills no disk.
    (ulimit -f 1000 && exec ./devpoke <in >out 2>err) &
    pid=$!
    exec 3>in
    for line; do
        await_read $pid || break
        printf '%b' "$line" >&3 2>/dev/null || break
    done
    exec 3>&-
    status=0
    wait $pid || status=$?
    echo "@@ case $name"; cat out; echo "@@ stderr"; cat err
    echo "@@ status $status"; echo "@@ driver"; driver_log
}
# dialogue <name> <driver> <lines fed, one printf format each>...
dialogue write-read plain '1\n' '2\n' '0\n'
dialogue two-on-one-line plain '1 2\n' '0\n'
dialogue burst-then-end plain '1\n2\n0\n'
dialogue aliases-1 plain '4294967297\n'
dialogue aliases-2 plain '-4294967294\n'
dialogue junk-first plain 'x\n'
dialogue junk-repeats plain '2\n' 'x\n' '0\n'
dialogue refused-read refuse_reads '2\n' '0\n'
dialogue no-driver absent
SCRIPT
    [ -z "${stress:-}" ] || cat <<'SCRIPT'
driver plain
echo "@@ case stress"
./qvx_stress 4 5000 2>&1
echo "@@ status $?"
echo "@@ case unload-held-open"
exec 4</dev/qvx_device
rmmod qvx_device 2>/dev/null && echo "unloaded while open" || echo "refused while open"
exec 4<&-
rmmod qvx_device && echo "unloaded once closed"
SCRIPT
}

check() { # check <transcript>
    expected >"$work/expected"
    diff -u "$work/expected" "$1" && echo "all dialogues as expected"
}
vm_scenario() {
    echo 'driver() { rmmod qvx_device 2>/dev/null; case $1 in plain) insmod qvx_device.ko ;;'
    echo '    refuse_reads) insmod qvx_device.ko refuse_reads=1 ;; esac; dmesg -c >/dev/null; }'
    echo 'driver_log() { dmesg -c | grep "^qvx_device: " || true; }'
    echo 'echo "@@ devpoke begin"'
    dialogues
    echo 'echo "@@ devpoke end"'
}
vm_check() { # vm_check <console>
    sed -n '/^@@ devpoke begin$/,/^@@ devpoke end$/p' "$1" | sed '1d;$d' >"$work/transcript"
    check "$work/transcript"
}

case ${1:-} in
fake)
    cp "$2" "$work/devpoke"
    {
        echo 'driver() { QVX_FAKE=$1; rm -f log; }'
        echo 'driver_log() { cat log 2>/dev/null || true; }'
        echo 'export QVX_FAKE QVX_FAKE_LOG=$PWD/log'
        dialogues
    } >"$work/scenario.sh"
    (cd "$work" && sh ./scenario.sh >transcript) && check "$work/transcript"
    ;;
vm)
    vm_scenario >"$work/scenario.sh"
    "$here/../kernel_modules/vm.sh" "$2" "$3" "$work/scenario.sh" "$work/console" "$4" "$5"
    vm_check "$work/console"
    ;;
vm-scenario)
    stress=${2:-}
    vm_scenario
    ;;
vm-check)
    stress=${3:-}
    vm_check "$2"
    ;;
absent)
    [ ! -e /dev/qvx_device ] || { echo "/dev/qvx_device exists here: this test needs a machine without it"; exit 1; }
    status=0
    "$2" </dev/null >"$work/out" 2>"$work/err" || status=$?
    diff -u <(printf '%sCannot open device file...\n@@ %s\n@@ status 1\n' "$opening" "$no_device") \
        <(cat "$work/out"; echo "@@ $(cat "$work/err")"; echo "@@ status $status") && echo "as expected"
    ;;
abi)
    . "$here/../checks.sh"
    [ "$(needed "$2")" = "[libc.so.6] " ] || { echo "devpoke needs $(needed "$2"), want libc.so.6 alone"; exit 1; }
    runtime=$(nm -u "$2" | grep -v '@GLIBC' | grep -E ' (_Z|__cxa|__gxx|_Unwind)' || true)
    [ -z "$runtime" ] || { echo "devpoke needs the C++ runtime: $runtime"; exit 1; }
    echo '#include "qvx_device.h"' >"$work/use.c"
    gcc -std=c11 -Wall -Wextra -Werror -I"$3" -c "$work/use.c" -o "$work/c.o" &&
        g++ -std=c++20 -Wall -Wextra -Werror -I"$3" -x c++ -c "$work/use.c" -o "$work/cxx.o" &&
        echo "libc alone; qvx_device.h is C and C++"
    ;;
*)
    echo "usage: devpoke_test.sh fake|vm|absent|abi|vm-scenario|vm-check ..." >&2
    exit 1
    ;;
esac
