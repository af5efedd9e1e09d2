#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian packages liblistcore, liblistcore-dev, qvx-tools and
# qvx-dkms with dpkg-buildpackage (no root needed, no debug symbol packages):
#   scripts/package.sh [--arch <arch>] [--repo <folder> [--key <key> [--passphrase-file <file>]] [--rekey]] [output folder]
# into the output folder (default: build/packages), with the source package.
# Their version is the build's (cmake/version.sh): for a build that is not a
# release, a changelog entry for it is written into the copy that is built,
# naming its commit.
# With --arch (arm64), cross-built for that architecture by the cross
# compilers of this machine's gcc version (g++-12-aarch64-linux-gnu), with
# Debian's build profile "cross"; qvx-dkms, which is for every architecture,
# is the same as from a native build.
# With --repo, the packages are then published into the apt repository in
# that folder by scripts/repo.sh, which says which key signs it and takes
# its options --key <key>, --passphrase-file <file> and --rekey.
# The build runs in a copy of the source tree inside the output folder (dpkg
# puts the packages beside the tree it builds, and debhelper works inside
# it), so the checkout stays clean; the copy goes once the build succeeds.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/shell/common.sh"
usage="usage: scripts/package.sh [--arch <arch>] [--repo <folder> [--key <key> [--passphrase-file <file>]] [--rekey]] [output folder]"
cross=() repo='' signing=() out=''
while [ $# -gt 0 ]; do
    case $1 in
    --arch)
        [ $# -ge 2 ] || die "$usage"
        triplet=$(dpkg-architecture -a"$2" -qDEB_HOST_GNU_TYPE 2>/dev/null) || die "unknown architecture $2"
        version=$(gcc -dumpversion)
        export CC=$triplet-gcc-$version CXX=$triplet-g++-$version
        command -v "$CXX" >/dev/null || die "$CXX is missing: run scripts/setup.sh"
        cross=(-a"$2" "-Pcross,nocheck")
        DEB_BUILD_OPTIONS="nocheck ${DEB_BUILD_OPTIONS:-}"
        ;;
    --repo)
        [ $# -ge 2 ] || die "$usage"
        repo=$2
        ;;
    --key | --passphrase-file)
        [ $# -ge 2 ] || die "$usage"
        signing+=("$1" "$2")
        ;;
    --rekey)
        signing+=("$1")
        shift
        continue
        ;;
    -*) die "$usage" ;;
    *)
        [ -z "$out" ] || die "$usage"
        out=$1
        shift
        continue
        ;;
    esac
    shift 2
done
[ ${#signing[@]} -eq 0 ] || [ -n "$repo" ] || die "${signing[0]} goes with --repo: $usage"
out=${out:-$top/build/packages}
for tool in dpkg-buildpackage dh dh_dkms cmake; do
    command -v $tool >/dev/null || die "$tool is missing: run scripts/setup.sh"
done
version=$("$top/cmake/version.sh")

mkdir -p "$out"
out=$(cd "$out" && pwd)
src=$out/source
rm -rf "$src" "$out"/*.deb "$out"/*.ddeb "$out"/*.buildinfo "$out"/*.changes "$out"/*.dsc "$out"/*.tar.*
copy_source "$top" "$src" "$out"
# A build that is not the release: an entry of its own above the newest
# release's, whose trailer line it takes, dated as its commit (a second
# after the release's entry at least), in UTC: the packages must not depend
# on the time zone.
if [ "$version" != "$(dpkg-parsechangelog -l "$src/debian/changelog" -S Version)" ]; then
    when=$(git -C "$top" log -1 --format=%ct)
    released=$(dpkg-parsechangelog -l "$src/debian/changelog" -S Timestamp)
    [ "$when" -gt "$released" ] || when=$((released + 1))
    {
        sed -n "1s/([^)]*)/($version)/p" "$src/debian/changelog"
        printf '\n  * %s\n\n' "$("$top/cmake/version.sh" --entry | fold -s -w 70 | sed 's/ *$//; 2,$s/^/    /')"
        grep -m1 '^ -- ' "$src/debian/changelog" | sed "s/  .*/  $(LC_ALL=C date -u -R -d "@$when")/"
        echo
        cat "$src/debian/changelog"
    } >"$src/debian/changelog.new"
    mv "$src/debian/changelog.new" "$src/debian/changelog"
fi
# A native build is a full one: the source package (.dsc and .tar.xz) comes
# beside the binary ones, as Debian builds from it; a cross build's would be
# the same.
what=-F && [ ${#cross[@]} -eq 0 ] || what=-b
(cd "$src" && DEB_BUILD_OPTIONS="parallel=${JOBS:-2} noautodbgsym ${DEB_BUILD_OPTIONS:-}" \
    dpkg-buildpackage "${cross[@]}" "$what" -us -uc) >"$out/build.log" 2>&1 ||
    LOG_TAIL=40 die_with_log "$out/build.log" "the package build failed"
rm -rf "$src"
ls "$out"/*.deb
[ ${#cross[@]} -gt 0 ] || ls "$out"/*.dsc
[ -z "$repo" ] || "$top/scripts/repo.sh" "${signing[@]}" "$repo" "$out"/*.deb
