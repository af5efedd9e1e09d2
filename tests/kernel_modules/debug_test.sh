#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Both modules in one VM under a kernel with checkers: turnpair's cycles and
# 50 unloads right after loading, then devpoke's dialogues with qvx_device,
# four qvx_stress processes at once and an unload while the device is held
# open; each checked as in its own tests. With "fault-injection" (the
# kasan kernel on one CPU) the loads and calls of both modules are then
# repeated with each of their allocations failing in turn, which the kernel
# must be able to do. Each scenario says when it ends; one that did not
# fails the test.
# vm.sh fails the test on any checker's report about the modules: any report
# but those that the same scenario gives without the modules in this kernel
# on as many CPUs (the baseline, run once and kept in the kernel's cache
# folder, baseline/smp<cpus>/klog, until the kernel or the scenario changes).
#   debug_test.sh <kernel folder> <cpus> <turnpair.ko> <qvx_device.ko> <devpoke> <qvx_stress> <failnth> [fault-injection]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../shell/common.sh"
. "$here/../checks.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ $# -eq 7 ] || [ $# -eq 8 ] && [ "${8:-fault-injection}" = fault-injection ] ||
    die "usage: debug_test.sh <kernel> <cpus> <turnpair.ko> <qvx_device.ko> <devpoke> <qvx_stress> <failnth> [fault-injection]"
devpoke_test=$here/../device_client/devpoke_test.sh
unloads=50
failnth=${8:-}
scenarios=(cycles early-unloads dialogues stress bad-arguments ${8:+fault-injection})
# Allocation failures, one at a time: each load of turnpair and of qvx_device, and
# each write and read call, repeated with its n-th fault-injectable call
# failing, n = 1, 2, ... until a call sees no failure. Each try prints
#   @@ try|retry <what> <n> injected|clean ok|<error> key=value...
# and failnth_check holds the tries to what sound modules do.
failnth_scenario() {
    cat <<'SCENARIO'
echo "@@ failnth begin $(cut -d' ' -f1 /proc/uptime)"
# Every try's mark in the kernel's log, not 10 per 5 s
echo on >/proc/sys/kernel/printk_devkmsg
fi=/sys/kernel/debug
# Sleeping allocations and single pages may fail too; every injected failure
# logs its stack, which tells the creations of turnpair's workers.
echo N >$fi/failslab/ignore-gfp-wait
echo N >$fi/fail_page_alloc/ignore-gfp-wait
echo 0 >$fi/fail_page_alloc/min-order
for f in failslab fail_page_alloc; do
    echo 2 >$fi/$f/verbose
    echo 0 >$fi/$f/verbose_ratelimit_interval_ms
done
./failnth turnpair turnpair.ko
./failnth qvx_device qvx_device.ko
insmod qvx_device.ko
./failnth ioctl
rmmod qvx_device
echo "@@ failnth end $(cut -d' ' -f1 /proc/uptime)"
echo "@@ ended fault-injection"
SCENARIO
}

# failnth_check <console>: every try as a sound module behaves and both lone
# workers seen (a leak is a report that the baseline lacks); prints how many
# injection points each call had and which errors made a load fail.
failnth_check() {
    local rc=0
    awk '
    function fail(why) { print "FAIL: fail-nth, " why; bad = 1 }
    function want(cond, why) { if (!cond) fail($0 ": " why) }
    /^@@ begin lone-/ { section = substr($3, 6); got[section] = ""; next }
    /^@@ end lone-/ {
        if (got[section] != expect[section])
            fail("with the " section " worker not created, turnpair logged:\n" got[section])
        section = ""
        next
    }
    section != "" { got[section] = got[section] $0 "\n"; next }
    /^@@ failnth (begin|end) / { took[$3] = $4 }
    $1 != "@@" || ($2 != "try" && $2 != "retry") { next }
    {
        what = $3; n = $4; inj = $5; res = $6
        delete kv
        for (i = 7; i <= NF; i++) { split($i, p, "="); kv[p[1]] = p[2] }
        if (inj == "clean") {
            want(res == "ok", "the call with no failure must succeed")
            if ($2 == "try")
                points[what] = n - 1
        } else if (res != "ok" && $2 == "try") {
            failed[what]++
            errors[what, res]++
            if (!((what, res) in named)) { named[what, res] = 1; names[what] = names[what] " " res }
        }
    }
    what == "turnpair" {
        want(kv["left"] == "none" && kv["module"] == "gone", "a worker or the module was left")
        if (res != "ok")
            want(kv["lines"] + 0 == 0 && kv["created"] == "-", "a failed load ran the module")
        else if (kv["created"] == "-")
            want(kv["lines"] + 0 == 106 && kv["values"] + 0 == 101 && kv["ran"] + 0 < 1000, "not a whole run")
        else {
            want(kv["ran"] + 0 <= 100, "the lone worker ran for more than a second")
            lone[kv["created"]] = lone[kv["created"]] " " n ($2 == "retry" ? " again" : "") " (" kv["ran"] / 100 " s)"
        }
    }
    what == "qvx_device" {
        want(kv["node"] == "absent" && kv["module"] == "gone", "the device or the module was left")
        want(res == "ok" ? kv["dialogue"] == "ok" : kv["dialogue"] == "-", "the dialogue failed")
    }
    what == "write" { want(kv["after"] + 0 == (res == "ok" ? n + 0 : 1000), "the value kept is wrong") }
    what == "read" { want(kv["after"] + 0 == 1000 && (res != "ok" || kv["value"] + 0 == 1000), "the value read is wrong") }
    BEGIN {
        expect["first"] = "failed to create the thread \n\t\tthread2 : 0 \n"
        expect["second"] = "our thread created succesfully \nout thread started now\n"
        for (s in expect)
            expect[s] = expect[s] "our thread is stoped \nmy char driver : \nunloaded succesfully\n"
    }
    END {
        for (s in expect)
            if (!(s in lone))
                fail("no try failed the creation of the " s " worker")
        split("turnpair qvx_device write read", calls)
        for (i = 1; i <= 4; i++) {
            c = calls[i]
            if (!(c in points)) { fail("the tries of " c " did not run to their end"); continue }
            line = sprintf("fail-nth: %s, %d injection points", c == "turnpair" || c == "qvx_device" ? "loading " c : c " call", points[c])
            if (failed[c]) {
                line = line sprintf(", %d failed it:", failed[c])
                k = split(substr(names[c], 2), e, " ")
                for (j = 1; j <= k; j++) line = line " " errors[c, e[j]] "x " e[j]
            }
            print line
        }
        for (s in lone) print "fail-nth: the " s " worker not created at n =" lone[s] ", the other ended by itself"
        printf "fail-nth: the tries took %d s\n", took["end"] - took["begin"]
        exit bad
    }' "$1" || rc=1
    return $rc
}

{
    "$here/turnpair_test.sh" scenario $unloads
    "$devpoke_test" vm-scenario stress
    [ -z "$failnth" ] || failnth_scenario
} >"$work/scenario.sh"
[ -z "$failnth" ] || grep -qx CONFIG_FAULT_INJECTION_DEBUG_FS=y "$1/kdir/.config" ||
    die "the kernel lacks CONFIG_FAULT_INJECTION_DEBUG_FS, which the fault injection needs"

# The baseline: made by one test at a time; the key names the kernel, the
# scenario and the VM it runs in.
base=$1/baseline/smp$2
key=$(cat "$1/.complete" "$work/scenario.sh" "$here/vm.sh" | sha256sum | cut -c1-16)
cache_lock "$base" "baseline: waiting for another test that is making it in $base"
if ! cache_complete "$base" "$key"; then
    echo "baseline: the scenario without the modules in $(cat "$1/release") on $2 CPU(s), once"
    "$here/vm.sh" "$1" "$2" "$work/scenario.sh" "$work/baseline" "$5" "$6" "$7" >"$work/baseline.out" ||
        die_with_log "$work/baseline.out" "the run without the modules failed"
    cp "$work/baseline.klog" "$base/klog"
    cache_stamp "$base" "$key"
    sed -n "s/^\([0-9]*\) report(s) of the kernel's own.*/baseline: \1 report(s) of the kernel's own/p" "$work/baseline.out"
fi
exec 9>&-

BASELINE=$base/klog "$here/vm.sh" "$1" "$2" "$work/scenario.sh" "$work/console" "$3" "$4" "$5" "$6" "$7"
status=0
"$here/turnpair_test.sh" check "$work/console" $unloads || status=1
"$devpoke_test" vm-check "$work/console" stress || status=1
[ -z "$failnth" ] || failnth_check "$work/console" || status=1
missing=$(ended "$work/console" "${scenarios[@]}")
[ -z "$missing" ] || { echo "$missing" && status=1; }
exit $status
