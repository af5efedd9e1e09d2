#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The packages' autopkgtests as Debian's CI runs them, with Debian's own
# runner, in a testbed of a release:
#   autopkgtest_test.sh <release> <source folder> <testbed cache> <packages> <scratch>
# runs, on the packages in <packages>/new, debian/tests/control's tests that
# need no machine of their own, and autodep8's DKMS test that "Testsuite:
# autopkgtest-pkg-dkms" adds; the modules test runs in package.trixie.boot's
# booted system. The testbed is a tarball made with mmdebstrap into the cache
# once, with what the tests depend on (and the DKMS test's kernel headers),
# so that a run downloads nothing; it is made again when that list changes.
# The runner's unshare backend maps the user's subordinate IDs through
# unshare --map-auto, which needs user namespaces and the user's range in
# /etc/subuid and /etc/subgid; util-linux 2.38's takes root's from the first
# line, whoever's it is, so root without that line gets its own in a mount
# namespace of the runner's.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../checks.sh"
[ $# -eq 5 ] || usage "<release> <source folder> <cache> <packages> <scratch>"
release=$1 top=$2 cache=$3 packages=$4 work=$5
. "$top/shell/common.sh"
command -v autopkgtest >/dev/null || die "autopkgtest is missing: run scripts/setup.sh"
debs=("$packages"/new/*.deb)
[ -f "${debs[0]}" ] || die "no packages in $packages/new: the test package.build makes them"
private_ids=''
if ! mapped=$(unshare --map-auto --map-root-user true 2>&1); then
    if [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null; then
        # Root's line goes first in copies of the files, mounted over them in a
        # mount namespace of the runner's own: the machine's stay as they are.
        private_ids=1
    else
        echo "SKIP: autopkgtest's unshare backend needs user namespaces and $(id -un)'s subordinate IDs in /etc/subuid and /etc/subgid (usermod --add-subuids, --add-subgids); unshare --map-auto said: $mapped"
        exit 77
    fi
fi
scratch "$work"

# The testbed holds what every test of ours depends on, the packages' own
# dependencies and the DKMS test's (dkms, linux-doc, and the kernel's headers
# it would otherwise install), and apt-utils, which the runner installs.
needs=$({
    sed -n 's/^Depends: //p' "$top/debian/tests/control" | tr ',' '\n'
    for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Pre-Depends Depends; done | tr ',' '\n'
    printf '%s\n' apt-utils dkms linux-doc linux-headers-amd64
} | sed 's/^[A-Za-z-]*: //; s/|.*//; s/[(:[].*//; s/ //g; /^$/d' | grep -vxE 'liblistcore|liblistcore-dev|qvx-tools|qvx-dkms' | LC_ALL=C sort -u)
tarball=$cache/testbed.tar
(
    cache_lock "$cache" 900 "the $release testbed in $cache, which another test is making"
    key=$(echo "$release $needs" | sha256sum | cut -c1-16)
    # shellcheck disable=SC2310 # cache_complete is a test
    if ! cache_complete "$cache" "$key"; then
        . "$top/kernel_modules/tools/debian.sh"
        mapfile -t sources < <(debian_sources "$release")
        [ ${#sources[@]} -gt 0 ] || exit 1
        mode=unshare && [ "$(id -u)" -ne 0 ] || mode=root
        echo "making a $release testbed in $cache with mmdebstrap (a few minutes)"
        cache_unstamp "$cache"
        # Its package lists kept: the runner finds the tests' dependencies in
        # place, and installs nothing from the archive.
        mmdebstrap --mode=$mode --variant=apt --include="$(echo "$needs" | paste -sd,)" --skip=cleanup/apt/lists \
            --aptopt='Acquire::Check-Valid-Until "false"' "$release" "$tarball" "${sources[@]}" 2>&1 |
            progress -l "$work/mmdebstrap.log" "mmdebstrap" ||
            LOG_TAIL=20 die_with_log "$work/mmdebstrap.log" "mmdebstrap could not make the $release testbed"
        cache_stamp "$cache" "$key"
    fi
)
# The runner unpacks the testbed afresh for each test: on this machine's
# disk that takes some 10 s each time, in memory 1. It goes into /dev/shm
# where that has room for it twice over and the machine's available memory
# four times (both releases' testbeds may be unpacked at once, beside VMs).
where=() place="on disk" size=$(($(stat -c %s "$tarball") / 1024))
if [ "$(stat -f -c %T /dev/shm 2>/dev/null)" = tmpfs ] && [ -w /dev/shm ] &&
    [ "$(df -k --output=avail /dev/shm | tail -n 1)" -ge $((2 * size)) ] &&
    [ "$(awk '/^MemAvailable:/ {print $2}' /proc/meminfo)" -ge $((4 * size)) ]; then
    memory=$(mktemp -d /dev/shm/qvx-testbed.XXXXXX)
    # The runner removes the testbed itself, unless it was killed.
    trap 'scratch_end; rm -rf "$memory" 2>/dev/null || unshare --map-auto --map-root-user rm -rf "$memory"' EXIT
    where=(-u "$memory/testbed") place="in memory"
fi
# The source tree as a source package has it: no build folder, no history.
copy_source "$top" "$work/source"
echo "autopkgtest on $release: the DKMS test, build and tools, the testbed unpacked $place (a minute)"
run=(timeout 900 autopkgtest -o "$work/out" "${debs[@]}" "$work/source/" -- unshare -t "$tarball" "${where[@]}")
if [ -n "$private_ids" ]; then
    # shellcheck disable=SC2016 # for the inner shell
    run=(unshare -m --propagation private sh -c 'for f in subuid subgid; do
        { echo root:1000000000:65536; cat /etc/$f; } >"$0/$f" && mount --bind "$0/$f" /etc/$f || exit; done
        exec "$@"' "$work" "${run[@]}")
fi
status=0
# shellcheck disable=SC2310 # progress ends at its first failed write by itself
"${run[@]}" 2>&1 | progress -l "$work/autopkgtest.log" -s '^autopkgtest \[[0-9:]*\]: test [^:]*: \[-' "autopkgtest on $release" ||
    status=${PIPESTATUS[0]}
sed 's/^/    /' "$work/out/summary" 2>/dev/null || tail -n 40 "$work/autopkgtest.log"
# Status 2: some test skipped, as the modules test is here (it needs a
# machine of its own).
same "autopkgtest's summary" "$(awk '{print $1, $2}' "$work/out/summary" 2>/dev/null | LC_ALL=C sort -u | paste -sd' ')" \
    "build PASS dkms-autopkgtest PASS modules SKIP tools PASS"
same "autopkgtest's status" "$status" 2
finish "autopkgtest on $release: every test passed but the modules test, which needs a machine ($SECONDS s)"
