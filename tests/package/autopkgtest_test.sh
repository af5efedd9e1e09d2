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
# The runner's unshare backend needs user namespaces and, util-linux 2.38's
# unshare --map-auto taking the first line whatever the user, the first line
# of /etc/subuid and /etc/subgid to be the user's; root without them takes
# the chroot backend in an unpacked copy; an ordinary user, skips.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../checks.sh"
[ $# -eq 5 ] || { echo "usage: autopkgtest_test.sh <release> <source folder> <testbed cache> <packages> <scratch>" >&2; exit 2; }
release=$1 top=$2 cache=$3 packages=$4 work=$5
. "$top/shell/common.sh"
PATH=$PATH:/usr/sbin:/sbin # chroot
command -v autopkgtest >/dev/null || die "autopkgtest is missing: run scripts/setup.sh"
debs=("$packages"/new/*.deb)
[ -f "${debs[0]}" ] || die "no packages in $packages/new: the test package.build makes them"
me=$(id -un)
first_line_mine() { [ "$(head -n 1 "$1" 2>/dev/null | cut -d: -f1)" = "$me" ]; }
# shellcheck disable=SC2310 # first_line_mine is one test
if first_line_mine /etc/subuid && first_line_mine /etc/subgid && unshare -rU true 2>/dev/null; then
    backend=unshare
elif [ "$(id -u)" -eq 0 ] && chroot / true 2>/dev/null; then
    backend=chroot
    echo "root without the first line of /etc/subuid and /etc/subgid, or without user namespaces: the chroot backend"
else
    echo "SKIP: the runner's unshare backend needs user namespaces and the first line of /etc/subuid and /etc/subgid to be $me's (util-linux 2.38's unshare --map-auto takes that line whatever the user); the chroot backend needs root"
    exit 77
fi
rm -rf "$work" && mkdir -p "$work"
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT

# The testbed holds what every test of ours depends on, the packages' own
# dependencies and the DKMS test's (dkms, linux-doc, and the kernel's headers
# it would otherwise install), and apt-utils, which the runner installs.
needs=$({
    sed -n 's/^Depends: //p' "$top/debian/tests/control" | tr ',' '\n'
    for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Pre-Depends Depends; done | tr ',' '\n'
    printf '%s\n' apt-utils dkms linux-doc linux-headers-amd64
} | sed 's/|.*//; s/[(:[].*//; s/ //g; /^$/d' | grep -vxE 'liblistcore|liblistcore-dev|qvx-tools|qvx-dkms' | LC_ALL=C sort -u)
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
            --aptopt='Acquire::Check-Valid-Until "false"' "$release" "$tarball" "${sources[@]}" >"$work/mmdebstrap.log" 2>&1 ||
            LOG_TAIL=20 die_with_log "$work/mmdebstrap.log" "mmdebstrap could not make the $release testbed"
        cache_stamp "$cache" "$key"
    fi
)
case $backend in
unshare) virt=(unshare -t "$tarball") ;;
chroot)
    mkdir "$work/testbed" && tar -x -C "$work/testbed" -f "$tarball"
    virt=(chroot "$work/testbed")
    ;;
esac
# The source tree as a source package has it: no build folder, no history.
copy_source "$top" "$work/source"
echo "autopkgtest on $release ($backend backend): the DKMS test, build and tools (about a minute)"
status=0
timeout 900 autopkgtest --skip-test modules -o "$work/out" "${debs[@]}" "$work/source/" -- "${virt[@]}" \
    >"$work/autopkgtest.log" 2>&1 || status=$?
sed -n '/^@@@* summary/,$p' "$work/out/log" 2>/dev/null | sed 's/^/    /'
summary=$(sed -n '1,/^@@@* summary/d; p' "$work/out/log" 2>/dev/null | awk '{print $1, $2}' | LC_ALL=C sort | tr '\n' ' ')
same "autopkgtest's summary" "$summary" "build PASS dkms-autopkgtest PASS tools PASS "
[ $status -eq 0 ] || { tail -n 40 "$work/autopkgtest.log"; fail "autopkgtest's status $status (0: all passed)"; }
[ "${failures:-0}" -eq 0 ] || KEEP=1
finish "autopkgtest on $release ($backend backend): every test passed ($SECONDS s)"
