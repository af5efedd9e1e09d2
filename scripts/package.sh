#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian packages liblistcore, liblistcore-dev, qvx-tools and
# qvx-dkms with dpkg-buildpackage (no root needed, no debug symbol packages):
#   scripts/package.sh [--arch <arch>] [output folder]   (default: build/packages)
# With --arch (arm64), cross-built for that architecture by the cross
# compilers of this machine's gcc version (g++-12-aarch64-linux-gnu), with
# Debian's build profile "cross"; qvx-dkms, which is for every architecture,
# is the same as from a native build.
# The build runs in a copy of the source tree inside the output folder (dpkg
# puts the packages beside the tree it builds, and debhelper works inside
# it), so the checkout stays clean; the copy goes once the build succeeds.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/shell/common.sh"
cross=()
if [ "${1-}" = --arch ]; then
    [ $# -ge 2 ] || die "usage: scripts/package.sh [--arch <arch>] [output folder]"
    triplet=$(dpkg-architecture -a"$2" -qDEB_HOST_GNU_TYPE 2>/dev/null) || die "unknown architecture $2"
    version=$(gcc -dumpversion)
    export CC=$triplet-gcc-$version CXX=$triplet-g++-$version
    command -v "$CXX" >/dev/null || die "$CXX is missing: run scripts/setup.sh"
    cross=(-a"$2" "-Pcross,nocheck")
    DEB_BUILD_OPTIONS="nocheck ${DEB_BUILD_OPTIONS:-}"
    shift 2
fi
out=${1:-$top/build/packages}
for tool in dpkg-buildpackage dh dh_dkms cmake; do
    command -v $tool >/dev/null || die "$tool is missing: run scripts/setup.sh"
done

mkdir -p "$out"
out=$(cd "$out" && pwd)
src=$out/source
rm -rf "$src" "$out"/*.deb "$out"/*.ddeb "$out"/*.buildinfo "$out"/*.changes
copy_source "$top" "$src" "$out"
(cd "$src" && DEB_BUILD_OPTIONS="parallel=${JOBS:-2} noautodbgsym ${DEB_BUILD_OPTIONS:-}" \
    dpkg-buildpackage "${cross[@]}" -b -us -uc) >"$out/build.log" 2>&1 ||
    LOG_TAIL=40 die_with_log "$out/build.log" "the package build failed"
rm -rf "$src"
ls "$out"/*.deb
