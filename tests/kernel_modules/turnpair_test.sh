#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# turnpair in a real kernel: two load/run/unload cycles must log exactly the
# start lines, the values 0 to 100 in order from alternating workers and the
# exit lines, all at level 6; then unloads right after loading (20 unless
# said otherwise) must each stop the workers cleanly. vm.sh fails the test on
# any oops, warning, lockup or checker's report about the module.
#   turnpair_test.sh <kernel folder> <cpus> <turnpair.ko> [unloads]
# or, in a VM that other scenarios share (turnpair.ko in its /root):
#   turnpair_test.sh scenario [unloads]          prints the scenario for vm.sh
#   turnpair_test.sh check <console> [unloads]   checks the VM's console
# With "booted" after the unloads, the scenario is for a booted system that
# has the module installed: modprobe loads it, and its lines are read from
# the kernel's journal.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
# The workers' names and the module's lines as turnpair.h has them, in C's
# notation (\t, \n): text <NAME>, for TURNPAIR_<NAME>.
text() { sed -n "s/^#define TURNPAIR_$1 \"\(.*\)\"\$/\1/p" "$here/../../kernel_modules/kthreads/turnpair.h"; }

scenario() {
    cat "$here/marks.sh"
    echo "unloads=$1 names='$(text ODD_WORKER)|$(text EVEN_WORKER)'"
    if [ "${2:-}" = booted ]; then
        cat <<'SCENARIO'
load() { modprobe turnpair; }
unload() { modprobe -r turnpair; }
# journald reads the kernel's log in its own time: a mark written into that
# log, once in the journal, says that all before it is there too. A section
# is what the journal has between two marks, with each line's level.
marks=0
section() {
    marks=$((marks + 1))
    echo "qvx mark $marks" >/dev/kmsg
    waited=0
    until journalctl -k -o cat | grep -qx "qvx mark $marks"; do
        [ $((waited += 1)) -le 150 ] || { echo "gave up after 30 s waiting for journald to take the mark $marks"; exit 1; }
        sleep 0.2
    done
    mark begin "$1"
    journalctl -k -o export --output-fields=PRIORITY,MESSAGE |
        awk -v from="qvx mark $((marks - 1))" -v to="qvx mark $marks" '
            /^PRIORITY=/ { level = substr($0, 10) }
            /^MESSAGE=/ { text = substr($0, 9) }
            /^$/ { if (text == to) exit; if (on) print "<" level ">" text; if (text == from) on = 1 }'
    mark end "$1"
}
section start >/dev/null
SCENARIO
    else
        cat <<'SCENARIO'
load() { insmod turnpair.ko; }
unload() { rmmod turnpair; }
section() { mark begin "$1"; dmesg -r -c; mark end "$1"; }
dmesg -c >/dev/null
SCENARIO
    fi
    cat <<'SCENARIO'
workers() { grep -qxE "$names" /proc/[0-9]*/comm 2>/dev/null; }
for cycle in 1 2; do
    load
    while workers; do sleep 0.1; done
    unload
    section cycle$cycle
done
mark ended cycles
for i in $(seq $unloads); do
    load
    unload
done
# The last rmmod returns once its workers have stopped, but a stopped
# worker stays listed until it has finished exiting: it gets 2 s for that.
for i in $(seq 20); do workers || break; sleep 0.1; done
workers && mark workers left running
section quick
mark ended early-unloads
SCENARIO
}

case ${1:-} in
scenario)
    scenario "${2:-20}" "${3:-}"
    exit
    ;;
check) console=$2 unloads=${3:-20} what=turnpair ;;
*)
    kernel=$1 cpus=$2 module=$3 unloads=${4:-20} console=$work/console
    scenario "$unloads" >"$work/scenario.sh"
    "$here/vm.sh" "$kernel" "$cpus" "$work/scenario.sh" "$console" "$module"
    what="turnpair on $(cat "$kernel/release"), $cpus CPU(s)"
    ;;
esac

. "$here/../checks.sh"
# A VM shared with other scenarios checks that each ended (debug_test.sh).
[ "$what" = turnpair ] || ended "$console" cycles early-unloads
section() { between "$1" "$console"; }
# The module's lines, whatever level they carry: those that begin with one
# of its texts up to the value or the end; the kernel's own may come in
# between.
lines="CREATED STARTED HAD_STARTED NOT_CREATED ODD_VALUE EVEN_VALUE STOPPED DRIVER UNLOADED"
starts=$(for name in $lines; do printf '%b\n' "$(text "$name" | sed 's/%d.*//; s/\\n$//')"; done)
mine() {
    awk -v starts="$starts" 'BEGIN { n = split(starts, start, "\n") }
        { for (i = 1; i <= n; i++) if (index(substr($0, index($0, ">") + 1), start[i]) == 1) { print; next } }'
}

# shellcheck disable=SC2059 # the module's own texts are the formats
{
    for name in CREATED STARTED; do printf "<6>$(text $name)"; done
    value=("<6>$(text EVEN_VALUE)" "<6>$(text ODD_VALUE)")
    for v in $(seq 0 100); do printf "${value[v % 2]}" "$v"; done
    for name in STOPPED DRIVER UNLOADED; do printf "<6>$(text $name)"; done
} >"$work/cycle.expected"
for cycle in cycle1 cycle2; do
    section $cycle | mine >"$work/$cycle"
    diff -u "$work/cycle.expected" "$work/$cycle" >"$work/$cycle.diff" ||
        fail "$cycle logged otherwise than expected:$(echo; head -n 20 "$work/$cycle.diff")"
done

# Unloaded right after loading, each cycle logs a whole cycle's lines but
# for the values, of which it logs a prefix (possibly empty), in order. (A
# file, not a pipe: the awk stops at the first line out of place.)
section quick | mine >"$work/quick"
problem=$(awk -v unloads="$unloads" '
    FNR == NR { want[++n] = $0; next } # the whole cycle: two lines, the values, three
    {
        if ($0 == want[at + 1]) at++
        else if (at >= 2 && at < n - 3 && $0 == want[n - 2]) at = n - 2 # the values cut short
        else { print "line " FNR " (" $0 "): out of place"; exit }
        if (at == n) { at = 0; cycles++ }
    }
    END { if (at || cycles != unloads) print "saw " cycles + 0 " complete cycles of " unloads }' "$work/cycle.expected" "$work/quick")
[ -z "$problem" ] || fail "loading and unloading at once: $problem"
marked "workers left running" "$console" && fail "workers still ran after the unloads"

finish "$what: all checks passed"
