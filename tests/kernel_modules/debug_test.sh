#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Both modules in one VM under a kernel with checkers: turnpair's cycles and
# 50 unloads right after loading, then devpoke's dialogues with qvx_device,
# four qvx_stress processes at once, its bad arguments and an unload while
# the device is held open; each checked as in its own tests. With
# "fault-injection" (the kasan kernel on one CPU) the loads and calls of both
# modules are then repeated with each of their fault-injectable calls failing
# in turn (failnth.c), which the kernel must be able to do; with
# "turnpair-creations" (on four CPUs) only turnpair's loads whose failures
# reach the creations of its workers. Each scenario says when it ends; one
# that did not fails the test.
# vm.sh fails the test on any checker's report about the modules (by
# reports.awk's rules): one naming a function of theirs, and one naming
# nothing of theirs that the same scenario does not give without the modules
# in this kernel on as many CPUs (the baseline, run once and kept in the
# kernel's cache folder, baseline/smp<cpus>/klog, until what it runs changes).
#   debug_test.sh <kernel folder> <cpus> <turnpair.ko> <qvx_device.ko> <devpoke> <qvx_stress> <failnth> [fault-injection|turnpair-creations]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../shell/common.sh"
. "$here/../checks.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ $# -eq 7 ] || [ $# -eq 8 ] && [[ ${8:-fault-injection} =~ ^(fault-injection|turnpair-creations)$ ]] ||
    die "usage: debug_test.sh <kernel> <cpus> <turnpair.ko> <qvx_device.ko> <devpoke> <qvx_stress> <failnth> [fault-injection|turnpair-creations]"
devpoke_test=$here/../device_client/devpoke_test.sh
unloads=50
scenarios=(cycles early-unloads dialogues stress bad-arguments ${8:+fault-injection})
# Failed allocations and failed user copies, one at a time: each load of
# turnpair and of qvx_device, and each write and read call, with its n-th
# fault-injectable call failing, n = 1, 2, ... until a call sees no failure.
# failnth holds each try to what sound modules do, and says what the tries
# found.
failnth_scenario() {
    cat <<'SCENARIO'
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
SCENARIO
    echo "./failnth turnpair.ko$([ "$1" = turnpair-creations ] || echo ' qvx_device.ko')"
}

{
    "$here/turnpair_test.sh" scenario $unloads
    "$devpoke_test" vm-scenario stress
    [ -z "${8:-}" ] || failnth_scenario "$8"
} >"$work/scenario.sh"
# A kernel made from other fragments than today's lacks what the scenario
# and the checks count on: that fails here, before any VM runs.
fragments=$here/../../kernel_modules/tools/debug
[ -f "$1/kdir/.config" ] || die "$1 holds no kernel: the build makes it (-DDEBUG_KERNELS=ON)"
for f in "$fragments/common.config" "$fragments/${1##*/debug-}.config"; do
    missing=$(grep -E '^(CONFIG_|# CONFIG_.* is not set$)' "$f" | grep -vxF -f "$1/kdir/.config" || true)
    [ -z "$missing" ] || die "$1 lacks what ${f##*/} asks for (the build makes it anew):"$'\n'"$missing"
done

# The baseline: made by one test at a time; the key covers what it runs:
# the kernel, the scenario, the programs, and vm.sh with the files it
# sources, comment lines and blank lines left out; another test making it is
# waited for one VM's limits and half the host's part (vm_limits.cmake).
base=$1/baseline/smp$2
code() { sed -e '/^[[:space:]]*#/d' -e '/^[[:space:]]*$/d' "$@"; }
sourced=$(sed -n 's|^\. "$(dirname "$0")/\(.*\)"$|'"$here"'/\1|p' "$here/vm.sh")
# shellcheck disable=SC2086 # the files vm.sh sources, one a word
key=$({ cat "$1/.complete" "$5" "$6" "$7" && code "$work/scenario.sh" "$here/vm.sh" $sourced; } |
    sha256sum | cut -c1-16)
defaults "$here/vm-limits"
cache_lock "$base" $((VM_BOOTS * VM_BOOT_LIMIT + VM_SCENARIO_LIMIT + VM_HOST_LIMIT / 2)) "the baseline in $base, which another test is making"
if ! cache_complete "$base" "$key"; then
    echo "baseline: the scenario without the modules in $(cat "$1/release") on $2 CPU(s), once (as long as the test itself, 1 to 4 min)"
    VM_STAGE=baseline "$here/vm.sh" "$1" "$2" "$work/scenario.sh" "$work/baseline" "$5" "$6" "$7" >"$work/baseline.out" ||
        die_with_log "$work/baseline.out" "the run without the modules failed"
    cp "$work/baseline.klog" "$base/klog"
    cache_stamp "$base" "$key"
    sed -n "s/^\([0-9]*\) report(s) of the kernel's own.*/baseline: \1 report(s) of the kernel's own/p" "$work/baseline.out"
fi
exec 9>&-

BASELINE=$base/klog "$here/vm.sh" "$1" "$2" "$work/scenario.sh" "$work/console" "$3" "$4" "$5" "$6" "$7"
"$here/turnpair_test.sh" check "$work/console" $unloads || fail "turnpair's checks: see above"
"$devpoke_test" vm-check "$work/console" stress || fail "devpoke's checks: see above"
grep -E '^(fail-nth: |FAIL: fail-nth)' "$work/console" || true
grep -q '^FAIL: fail-nth' "$work/console" && fail "fail-nth: a try broke a rule (above)"
ended "$work/console" "${scenarios[@]}"
finish "both modules in $(cat "$1/release") on $2 CPU(s): all checks passed"
