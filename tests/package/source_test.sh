#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The source package built where Debian builds it:
#   source_test.sh <release> <source folder> <root cache> <packages> <scratch>
# unpacks package.build's .dsc into a clean root of <release> that holds
# build-essential, the arm64 cross compilers (crossbuild-essential-arm64)
# and the .dsc's Build-Depends, nothing else, and builds it there natively
# and cross for arm64 (build profiles cross and nocheck): each build gives
# the four packages. A Build-Depends left out fails the build here. The root
# is made with mmdebstrap into the cache once (a few minutes), and again when
# the Build-Depends change; the builds work in its /build, removed after.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../checks.sh"
[ $# -eq 5 ] || usage "<release> <source folder> <cache> <packages> <scratch>"
release=$1 top=$2 cache=$3 packages=$4 work=$5
. "$top/shell/common.sh"
buildroot=$top/kernel_modules/tools/buildroot.sh
why=$(bash "$buildroot" check)
[ -z "$why" ] || { echo "SKIP: no Debian root can be made or entered here: $why"; exit 77; }
dsc=("$packages"/new/*.dsc)
[ -f "${dsc[0]}" ] || die "no source package in $packages/new: the test package.build makes it"
scratch "$work"
version=$(sed -n 's/^Version: //p' "${dsc[0]}")
# Build-Depends by name (a virtual one, debhelper-compat, by its provider's).
needs=$(sed -n 's/^Build-Depends: //p' "${dsc[0]}" | tr ',' '\n' |
    sed 's/|.*//; s/[(<[].*//; s/ //g; s/^debhelper-compat$/debhelper/; s/^dh-sequence-\(.*\)$/dh-\1/; /^$/d' |
    cat - <(printf '%s\n' build-essential crossbuild-essential-arm64) | LC_ALL=C sort -u)
root=$cache/root
cache_lock "$cache" 1800 "the $release build root in $cache, which another test is making or building in"
key=$(echo "$needs" | sha256sum | cut -c1-16)
# shellcheck disable=SC2310 # cache_complete is a test
if ! cache_complete "$cache" "$key"; then
    echo "making a clean $release build root in $cache with mmdebstrap (a few minutes): $(echo "$needs" | paste -sd' ')"
    cache_unstamp "$cache"
    # shellcheck disable=SC2086 # one package a word
    bash "$buildroot" make "$root" "$release" $needs 2>&1 | progress -l "$work/mmdebstrap.log" mmdebstrap ||
        LOG_TAIL=20 die_with_log "$work/mmdebstrap.log" "no $release build root"
    cache_stamp "$cache" "$key"
fi
trap 'scratch_end; rm -rf "$root/build"' EXIT
# build <what> <build options, or -> <dpkg-buildpackage options>...: from the
# unpacked .dsc; sets built to the packages it gave, by name (none if it
# failed, which it says).
build() {
    built=''
    rm -rf "$root/build" && mkdir "$root/build" && cp "${dsc[0]}" "${dsc[0]%.dsc}".tar.* "$root/build/" ||
        die "cannot copy the source package into $root/build"
    echo "building the source package in the $release root: $1 (about 30 s)"
    # shellcheck disable=SC2016,SC2310 # for the root's shell; run is one command
    bash "$buildroot" run "$root" sh -c 'cd /build && dpkg-source -x ./*.dsc src && cd src &&
        DEB_BUILD_OPTIONS="parallel=1 noautodbgsym $0" dpkg-buildpackage -us -uc -b "$@"' "${2/#-/}" "${@:3}" \
        >"$work/$1.log" 2>&1 || { tail -n 30 "$work/$1.log"; fail "the $1 build in a clean $release root (log: $work/$1.log)"; return 0; }
    built=$(cd "$root/build" && ls -- *.deb | tr '\n' ' ')
}
# All four packages, of the architecture built for.
while read -r what arch options; do
    # shellcheck disable=SC2086 # options, one a word
    build "$what" $options
    [ -z "$built" ] || same "the packages of the $what build" "$built" \
        "$(printf '%s ' "liblistcore-dev_${version}_$arch.deb" "liblistcore_${version}_$arch.deb" "qvx-dkms_${version}_all.deb" "qvx-tools_${version}_$arch.deb")"
done <<EOF
native $(dpkg --print-architecture) -
cross-arm64 arm64 nocheck -aarm64 -Pcross,nocheck
EOF
finish "the source package $version built in a clean $release root, natively and cross for arm64 ($SECONDS s)"
