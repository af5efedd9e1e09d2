#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian packages liblistcore, liblistcore-dev, qvx-tools and
# qvx-dkms with dpkg-buildpackage (no root needed, no debug symbol packages):
#   scripts/package.sh [output folder]        (default: build/packages)
# The build runs in a copy of the source tree inside the output folder (dpkg
# puts the packages beside the tree it builds, and debhelper works inside
# it), so the checkout stays clean; the copy goes once the build succeeds.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/shell/common.sh"
out=${1:-$top/build/packages}
for tool in dpkg-buildpackage dh dh_dkms cmake; do
    command -v $tool >/dev/null || die "$tool is missing: run scripts/setup.sh"
done

mkdir -p "$out"
out=$(cd "$out" && pwd)
src=$out/source
rm -rf "$src" "$out"/*.deb "$out"/*.ddeb "$out"/*.buildinfo "$out"/*.changes
mkdir "$src"
(cd "$top" && tar -c --exclude=./build --exclude=./.git --exclude="./${out#"$top"/}" .) | tar -x -C "$src"
(cd "$src" && DEB_BUILD_OPTIONS="parallel=${JOBS:-2} noautodbgsym ${DEB_BUILD_OPTIONS:-}" \
    dpkg-buildpackage -b -us -uc) >"$out/build.log" 2>&1 ||
    LOG_TAIL=40 die_with_log "$out/build.log" "the package build failed"
rm -rf "$src"
ls "$out"/*.deb
