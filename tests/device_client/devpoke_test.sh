#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# devpoke's conversations with the driver of /dev/qvx_device: one table of
# dialogues, each fed line by line (devpoke discards buffered input before
# every read, so each line waits until devpoke blocks reading), checked for
# devpoke's output, its complaints, its status and what the driver saw.
#   devpoke_test.sh fake <devpoke linked with the stand-in driver>
#   devpoke_test.sh vm <kernel folder> <cpus> <devpoke> <qvx_device.ko> [<static 32-bit devpoke>]
#   devpoke_test.sh absent <devpoke>     no driver on this machine
#   devpoke_test.sh abi <devpoke> <folder of qvx_device.h>
# or, in a VM that other scenarios share (devpoke, qvx_device.ko and, with
# "stress", qvx_stress in its /root):
#   devpoke_test.sh vm-scenario [stress]          prints the scenario for vm.sh
#   devpoke_test.sh vm-check <console> [stress]   checks the VM's console
# In a VM some dialogues run as users in and outside the group qvx, before
# and after the node gets the group and mode the package's udev rule gives
# it; with a 32-bit devpoke some run that too. With "booted" for "stress",
# the scenario is for a booted system with the packages installed: modprobe
# loads the driver, udev gives the node its group and mode by the rule, and
# the node's "ls -l" line is shown. With "stress" the dialogues
# are followed by 4 processes doing 5,000 write/read pairs each at once (the
# driver's rate limiting must keep their log to a few hundred lines), the
# bad arguments of "qvx_stress bad", and an unload while the device is open.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../checks.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

opening=$'*********************************\n\nOpening Driver\n'
menu=$'Enter the Value to send \n 1 - write \n 2 - read  \n'
writing=$'Writing Value to Driver\n' reading=$'Reading Value from Driver\n'
closing=$'Closing Driver\n'
# In a VM where the node is made by hand, the users' dialogues before it has
# the group and mode the rule gives.
before_rule="outsider-0600 member-0600"
no_device="devpoke: cannot open /dev/qvx_device: No such file or directory"
denied="devpoke: cannot open /dev/qvx_device: Permission denied"
# Most lines the stress run may leave in the log, of the 40,007 it makes (a
# write, a read and a release after it included);
# notes must count some of the others as suppressed (not all: a call that
# finds another CPU checking the rate limit is dropped uncounted).
most_lines=400

expected() {
    local name value1=$'Value is 1\n' value0=$'Value is 0\n' unopened=$'Cannot open device file...\n'
    # ends <devpoke's output after the opening> <its errors> <its status> <the driver's lines>...
    ends() {
        printf '%s@@ stderr\n%s@@ status %s\n@@ driver\n' "$1" "$2" "$3" && shift 3
        [ $# -eq 0 ] || printf 'qvx_device: %s\n' "$@"
    }
    for name in write-read two-on-one-line burst-then-end aliases-1 aliases-2 junk-first junk-repeats \
        refused-read no-driver ${users:+$before_rule outsider-0660 member-0660} ${m32:+32-bit 32-bit-refused-read}; do
        printf '@@ case %s\n%s' $name "$opening"
        case $name in
        write-read | member-0660 | 32-bit) ends "$menu$writing$menu$reading$value1$menu$closing" "" 0 'write 1' 'read 1' release ;;
        two-on-one-line | burst-then-end) ends "$menu$writing$menu$closing" "" 0 'write 1' release ;;
        aliases-1 | aliases-2 | junk-first) ends "$menu$closing" "" 0 release ;;
        junk-repeats) ends "$menu$reading$value0$menu$reading$value0$menu$closing" "" 0 'read 0' 'read 0' release ;;
        refused-read | 32-bit-refused-read)
            ends "$menu$reading$menu$closing" $'devpoke: the driver refused the read: Operation not permitted\n' 0 'read refused' release ;;
        no-driver) ends "$unopened" "$no_device"$'\n' 1 ;;
        outsider-0600 | member-0600 | outsider-0660) ends "$unopened" "$denied"$'\n' 1 ;;
        esac
    done
    [ -z "${stress:-}" ] || printf '%s\n' '@@ case stress' 'qvx_stress: 4 processes x 5000 write/read pairs' \
        '@@ status 0' "logged at most $most_lines lines, others suppressed" \
        '@@ case bad-arguments' 'a NULL pointer: write EFAULT, read EFAULT' \
        'an unmapped page: write EFAULT, read EFAULT' 'a kernel address: write EFAULT, read EFAULT' \
        'a read-only page: read EFAULT' 'a value straddling the end of a mapping: write EFAULT, read EFAULT' \
        'a descriptor opened read-only: write EBADF, read success' \
        '10000 random command numbers: 10000 ENOTTY' '@@ status 0' \
        '@@ case unload-held-open' 'refused while open' 'unloaded once closed'
}

# The dialogues, as a script for busybox sh or any POSIX shell; driver and
# driver_log come before it.
dialogues() {
    cat <<'SCRIPT'
trap '' PIPE
prog=devpoke as=
# Waits until process $1 blocks reading its standard input (read is system
# call 0 on x86-64, 63 on arm64, 3 for a 32-bit x86 or Arm program) in a read
# that began after the one seen last: its count of voluntary switches ($seen then)
# has moved on, so the line written since has been taken. Still in the old
# read, a slow devpoke would get the next line in the same buffer and discard
# it. Fails once it has ended (or is gone).
await_read() {
    while :; do
        { read -r nr fd rest <"/proc/$1/syscall"; } 2>/dev/null || return 1
        case "$nr $fd" in "0 0x0" | "3 0x0" | "63 0x0")
            now=$(sed -n 's/^voluntary_ctxt_switches:[[:space:]]*//p' "/proc/$1/status" 2>/dev/null)
            if [ -z "$now" ] || [ "$now" != "$seen" ]; then seen=$now && return 0; fi ;;
        esac
        case $(cut -d' ' -f3 "/proc/$1/stat" 2>/dev/null || echo X) in Z | X) return 1 ;; esac
        sleep 0.02
    done
}
# Runs $prog (under $EMULATOR in a cross build), as user $as if set (su's -s
# makes it the user's shell; where su forks, setpriv, which does not).
start() {
    if [ -z "$as" ]; then exec $EMULATOR "./$prog"
    elif [ -n "${setpriv:-}" ]; then exec setpriv --reuid="$as" --regid="$as" --init-groups "./$prog"
    else exec su -s "$PWD/$prog" "$as"; fi
}
dialogue() {
    name=$1 mode=$2
    shift 2
    driver "$mode"
    rm -f in && mkfifo in
    # Limited output: a devpoke looping on at end of input fills no disk.
    (ulimit -f 1000 && start <in >out 2>err) &
    pid=$! seen=
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
    [ -z "${users:-}" ] || [ -z "$before_rule" ] || cat <<'SCRIPT'
as=outsider; dialogue outsider-0600 plain '1\n'
as=member; dialogue member-0600 plain '1\n'
SCRIPT
    [ -z "${users:-}" ] || cat <<'SCRIPT'
as=outsider; dialogue outsider-0660 grouped '1\n'
as=member; dialogue member-0660 grouped '1\n' '2\n' '0\n'
as=
SCRIPT
    [ -z "${m32:-}" ] || cat <<'SCRIPT'
prog=devpoke32
dialogue 32-bit plain '1\n' '2\n' '0\n'
dialogue 32-bit-refused-read refuse_reads '2\n' '0\n'
prog=devpoke
SCRIPT
    echo 'mark ended dialogues'
    [ -z "${stress:-}" ] || cat <<'SCRIPT'
driver plain
echo "@@ case stress"
start=$(date +%s)
./qvx_stress 4 5000 2>&1
echo "@@ status $?"
took=$(($(date +%s) - start))
# A call once the rate limit's 5 s have passed brings the last notes of
# lines suppressed: 5 s of the kernel's ticks, which lag the clock where a
# busy host starves the emulator (the debug kernels tick periodically), so
# after 6 s a call each second, for 30 s at most, until a note is there.
second=0
while [ $((second += 1)) -le 30 ]; do
    sleep 1
    [ $second -ge 6 ] || continue
    ./qvx_stress 1 1 >/dev/null
    ! dmesg | grep -q ' callbacks suppressed$' || break
done
dmesg -c >stress.log
suppressed=$(sed -n 's/.*: \([0-9]*\) callbacks suppressed$/\1/p' stress.log | awk '{ n += $1 } END { print n + 0 }')
echo "logged $(grep -c '^qvx_device: ' stress.log) lines, $suppressed suppressed, in $took s"
mark ended stress
echo "@@ case bad-arguments"
./qvx_stress bad 2>&1
echo "@@ status $?"
echo "@@ case unload-held-open"
exec 4</dev/qvx_device
rmmod qvx_device 2>/dev/null && echo "unloaded while open" || echo "refused while open"
exec 4<&-
rmmod qvx_device && echo "unloaded once closed"
mark ended bad-arguments
SCRIPT
}

check() { # check <transcript>, whose marks "ended" ended() looks at
    expected >"$work/expected"
    grep -v "^$(mark ended) " "$1" | diff -u "$work/expected" - && echo "all dialogues as expected"
}
vm_scenario() {
    users=1
    cat "$here/../kernel_modules/marks.sh"
    if [ -n "${booted:-}" ]; then
        cat <<'SCRIPT'
# The users as an administrator makes them; the node as udev makes it.
useradd member && usermod -a -G qvx member && useradd outsider
mkdir /tmp/devpoke && cd /tmp/devpoke && ln -s /usr/bin/devpoke devpoke
setpriv=1
driver() { modprobe -r qvx_device; case $1 in plain | grouped) modprobe qvx_device ;;
    refuse_reads) modprobe qvx_device refuse_reads=1 ;; esac; udevadm settle; dmesg -c >/dev/null; }
driver_log() { dmesg -c -t | grep "^qvx_device: " || true; }
driver plain
mark node "$(ls -l /dev/qvx_device)"
SCRIPT
    else
        # A member of the group qvx and a user outside it; "grouped" gives the
        # node what the package's udev rule gives it.
        echo 'mkdir -p /etc && chmod 0755 / /root'
        echo 'printf "%s\n" root:x:0:0::/root:/bin/sh member:x:1000:1000::/:/bin/sh outsider:x:1001:1001::/:/bin/sh >/etc/passwd'
        echo 'printf "%s\n" root:x:0: qvx:x:999:member member:x:1000: outsider:x:1001: >/etc/group'
        echo 'driver() { rmmod qvx_device 2>/dev/null; case $1 in plain) insmod qvx_device.ko ;;'
        echo '    grouped) insmod qvx_device.ko && chgrp qvx /dev/qvx_device && chmod 0660 /dev/qvx_device ;;'
        echo '    refuse_reads) insmod qvx_device.ko refuse_reads=1 ;; esac; dmesg -c >/dev/null; }'
        echo 'driver_log() { dmesg -c | grep "^qvx_device: " || true; }'
    fi
    echo 'mark begin devpoke'
    dialogues
    echo 'mark end devpoke'
}
vm_check() { # vm_check <console>
    users=1
    if [ -n "${booted:-}" ]; then
        local node
        node=$(after node "$1")
        echo "the node as udev made it: $node"
        [[ $node == "crw-rw---- 1 root qvx "* ]] || { echo "the node is not root's and qvx's, mode 0660"; return 1; }
    fi
    between devpoke "$1" >"$work/transcript.raw"
    grep '^logged [0-9]* lines' "$work/transcript.raw" | sed 's/^/the stress run /' || true
    awk -v most=$most_lines '/^logged [0-9]+ lines, [0-9]+ suppressed, in [0-9]+ s$/ && $2 <= most && $4 > 0 {
        $0 = "logged at most " most " lines, others suppressed" } 1' \
        "$work/transcript.raw" >"$work/transcript"
    check "$work/transcript"
}

case ${1:-} in
fake)
    cp "$2" "$work/devpoke"
    {
        cat "$here/../kernel_modules/marks.sh"
        echo 'driver() { QVX_FAKE=$1; rm -f log; }'
        echo 'driver_log() { cat log 2>/dev/null || true; }'
        echo 'export QVX_FAKE QVX_FAKE_LOG=$PWD/log'
        dialogues
    } >"$work/scenario.sh"
    (cd "$work" && sh ./scenario.sh >transcript) && check "$work/transcript"
    ;;
vm)
    files=("$4" "$5")
    if [ -n "${6:-}" ]; then
        # A 32-bit program, which the kernel must run (x86-64's can be
        # built to refuse them unless booted with ia32_emulation=1).
        [ "$(od -An -tu1 -j4 -N1 "$6" | tr -d ' ')" = 1 ] || { echo "$6 is no 32-bit ELF program"; exit 1; }
        grep -qx CONFIG_COMPAT=y "$2/kdir/.config" && ! grep -qx CONFIG_IA32_EMULATION_DEFAULT_DISABLED=y "$2/kdir/.config" ||
            { echo "the kernel in $2 runs no 32-bit programs (no CONFIG_COMPAT, or off by default), which its row's compat asks for"; exit 1; }
        m32=1
        cp "$6" "$work/devpoke32"
        files+=("$work/devpoke32")
    fi
    vm_scenario >"$work/scenario.sh"
    "$here/../kernel_modules/vm.sh" "$2" "$3" "$work/scenario.sh" "$work/console" "${files[@]}"
    vm_check "$work/console"
    (ended "$work/console" dialogues && finish "the dialogues ran to their end")
    ;;
vm-scenario)
    [ "${2:-}" = booted ] && booted=1 before_rule= || stress=${2:-}
    vm_scenario
    ;;
vm-check)
    [ "${3:-}" = booted ] && booted=1 before_rule= || stress=${3:-}
    vm_check "$2"
    ;;
absent)
    [ ! -e /dev/qvx_device ] || { echo "/dev/qvx_device exists here: this test needs a machine without it"; exit 1; }
    status=0
    $EMULATOR "$2" </dev/null >"$work/out" 2>"$work/err" || status=$?
    diff -u <(printf '%sCannot open device file...\n@@ %s\n@@ status 1\n' "$opening" "$no_device") \
        <(cat "$work/out"; echo "@@ $(cat "$work/err")"; echo "@@ status $status") && echo "as expected"
    ;;
abi)
    [ "$(needed "$2")" = "[libc.so.6] " ] || { echo "devpoke needs $(needed "$2"), want libc.so.6 alone"; exit 1; }
    runtime=$(nm -u "$2" | grep -v '@GLIBC' | grep -E ' (_Z|__cxa|__gxx|_Unwind)' || true)
    [ -z "$runtime" ] || { echo "devpoke needs the C++ runtime: $runtime"; exit 1; }
    echo '#include "qvx_device.h"' >"$work/use.c"
    # The header checks the command numbers: the same in a 32-bit build, where
    # the compiler makes one (x86-64's -m32, with the kernel's x86-64 asm
    # headers named last: gcc-multilib, which would link /usr/include/asm to
    # them, conflicts with the cross compilers in Debian 12).
    widths=64-bit m32=""
    [[ $("$CC" -dumpmachine) != x86_64-* ]] || widths+=" and 32-bit" m32="-m32 -idirafter /usr/include/x86_64-linux-gnu"
    "$CC" -std=c11 -Wall -Wextra -Werror -I"$3" -c "$work/use.c" -o "$work/c.o" &&
        { [ -z "$m32" ] || "$CC" $m32 -std=c11 -Wall -Wextra -Werror -I"$3" -c "$work/use.c" -o "$work/c32.o"; } &&
        "$CXX" -std=c++20 -Wall -Wextra -Werror -I"$3" -x c++ -c "$work/use.c" -o "$work/cxx.o" &&
        echo "libc alone; qvx_device.h is C and C++, $widths"
    ;;
*)
    echo "usage: devpoke_test.sh fake|vm|absent|abi|vm-scenario|vm-check ..." >&2
    exit 1
    ;;
esac
