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
# logged <log> <what> <command>...: the command, its output in <log>; when
# it fails, the log is shown and the test ends (common.sh's die) with <what>.
logged() { "${@:3}" >"$1" 2>&1 || { cat "$1"; die "$2"; }; }
# lint <changes>...: lintian finds neither error nor warning in the packages.
lint() {
    local said
    said=$(lintian --fail-on error,warning "$@" 2>&1) || fail "lintian: $(echo; echo "$said")"
}
# contents <deb>...: the files the packages hold, sorted, a line
# "<package> <path>" each, less their documentation.
contents() {
    local deb
    for deb; do
        dpkg-deb -c "$deb" | awk -v p="$(dpkg-deb -f "$deb" Package)" '$1 !~ /^d/ { sub(/^\.\//, "", $6); print p, $6 }' ||
            return
    done | grep -v ' usr/share/doc/' | LC_ALL=C sort
}
# kernel_machine <kernel folder>: the machine its kernel runs on, as uname -m
# and DKMS name it (x86_64, aarch64).
kernel_machine() {
    local arch=amd64
    [ ! -f "$1/arch" ] || arch=$(cat "$1/arch")
    dpkg-architecture -a"$arch" -qDEB_HOST_GNU_CPU 2>/dev/null
}
# dkms_installed <version> <kernel folder>: what dkms status says once both
# modules are built for that kernel.
dkms_installed() { echo "qvx/$1, $(cat "$2/release"), $(kernel_machine "$2"): installed"; }
# finish [message]: the message (default "all checks passed") when nothing
# failed nor was skipped; exits 1 when something failed, 77 when skipped.
finish() {
    [ "$failures" -eq 0 ] || exit 1
    [ "$skips" -eq 0 ] || exit 77
    echo "${1:-all checks passed}"
    exit 0
}
