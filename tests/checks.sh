# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# What the shell tests share: failures counted rather than fatal, so one run
# reports them all. Sourced: . "$(dirname "$0")/../checks.sh"
failures=0 skips=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# skip <what and why>: checks that cannot run here. A test whose other checks
# pass then ends as skipped (status 77, the test's SKIP_RETURN_CODE).
skip() { echo "SKIP: $*"; skips=$((skips + 1)); }
. "$(dirname "${BASH_SOURCE[0]}")/kernel_modules/marks.sh"
same() { [ "$2" = "$3" ] || fail "$1: got [$2], want [$3]"; } # same <what> <got> <want>
# In a cross build the programs run under the emulator its toolchain names
# (EMULATOR, its words, which $EMULATOR splits), and C and C++ are compiled
# by its compilers (CC, CXX).
: "${EMULATOR:=}" "${CC:=gcc}" "${CXX:=g++}"
# ended <console> <scenario>...: each scenario marked "ended <scenario>" in
# the VM's console; one that broke off, or was left out, did not.
ended() {
    local s
    for s in "${@:2}"; do marked "ended $s" "$1" || fail "the scenario '$s' did not run to its end"; done
}
# The libraries a binary needs, space-separated: "[libc.so.6] ".
needed() { readelf -d "$1" | awk '/NEEDED/ {print $5}' | tr '\n' ' '; }
# logged <log> <what> <command>...: the command, its output in <log>; when it
# fails, the log, and the test ends (common.sh's die) saying <what>.
logged() { "${@:3}" >"$1" 2>&1 || { cat "$1"; die "$2"; }; }
lint() { local said; said=$(lintian --fail-on error,warning "$@" 2>&1) || fail "lintian: $(echo; echo "$said")"; }
# contents <deb>...: "<package> <path>" for each file the packages hold, less their documentation, sorted.
contents() {
    local deb
    for deb; do dpkg-deb -c "$deb" | awk -v p="$(dpkg-deb -f "$deb" Package)" '$1 !~ /^d/ { sub(/^\.\//, "", $6); print p, $6 }' || return; done |
        grep -v ' usr/share/doc/' | LC_ALL=C sort
}
# The machine a kernel folder's kernel runs on, as uname -m and DKMS name it
# (x86_64, aarch64), and dkms status once both modules are built for it.
kernel_machine() { dpkg-architecture -a"$(cat "$1/arch" 2>/dev/null || echo amd64)" -qDEB_HOST_GNU_CPU 2>/dev/null; }
dkms_installed() { echo "qvx/$1, $(cat "$2/release"), $(kernel_machine "$2"): installed"; } # <version> <kernel folder>
# scratch <folder>: <folder> made anew, empty, and removed when the test
# ends (scratch_end, on EXIT) unless KEEP is set or a check failed, to look
# into; the read-only folders dpkg leaves in a root are removed too.
scratch() {
    scratch_folder=$1
    remove_tree "$1" && mkdir -p "$1" || die "cannot make the scratch folder $1"
    trap scratch_end EXIT
}
scratch_end() { [ -n "${KEEP:-}" ] || [ "$failures" -gt 0 ] || remove_tree "$scratch_folder"; }
remove_tree() { [ ! -e "$1" ] || { find "$1" -type d ! -perm -u+w -exec chmod u+w {} + && rm -rf "$1"; }; }
usage() { echo "usage: $(basename "$0") $*" >&2 && exit 2; } # usage <arguments>: exits 2
# finish [message]: the message (default "all checks passed") when nothing
# failed nor was skipped; exits 1 when something failed, 77 when skipped.
finish() {
    [ "$failures" -eq 0 ] || exit 1
    [ "$skips" -eq 0 ] || exit 77
    echo "${1:-all checks passed}"
    exit 0
}
