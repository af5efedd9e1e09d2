# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# What the shell tests share: failures counted rather than fatal, so one run
# reports them all. Sourced: . "$(dirname "$0")/../checks.sh"
failures=0 skips=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# skip <what and why>: checks that cannot run here. A test whose other checks
# pass then ends as skipped (status 77, the test's SKIP_RETURN_CODE).
skip() { echo "SKIP: $*"; skips=$((skips + 1)); }
same() { # same <what> <got> <want>
    [ "$2" = "$3" ] || fail "$1: got [$2], want [$3]"
}
# In a cross build the programs run under the emulator its toolchain names
# (EMULATOR, its words, which $EMULATOR splits), and C and C++ are compiled
# by its compilers (CC, CXX).
: "${EMULATOR:=}" "${CC:=gcc}" "${CXX:=g++}"
# ended <console> <scenario>...: each scenario said "@@ ended <scenario>" in
# the VM's console; one that broke off, or was left out, did not.
ended() {
    local console=$1 s
    shift
    for s; do
        grep -qx "@@ ended $s" "$console" || fail "the scenario '$s' did not run to its end"
    done
}
# The libraries a binary needs, space-separated: "[libc.so.6] ".
needed() { readelf -d "$1" | awk '/NEEDED/ {print $5}' | tr '\n' ' '; }
# finish [message]: the message (default "all checks passed") when nothing
# failed nor was skipped; exits 1 when something failed, 77 when skipped.
finish() {
    [ "$failures" -eq 0 ] || exit 1
    [ "$skips" -eq 0 ] || exit 77
    echo "${1:-all checks passed}"
    exit 0
}
