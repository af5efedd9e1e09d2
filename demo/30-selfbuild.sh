#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# selfbuild: prints its line, then becomes gcc building zarnik from its own
# source, in a scratch folder holding that source.
set -eu
echo "== selfbuild: its line, then gcc building zarnik ($BUILD/system_calls/selfbuild)"
bin=$PWD/$BUILD/system_calls/selfbuild
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp system_calls/selfbuild.cpp "$scratch"
cd "$scratch"

"$bin"
echo "status $? (gcc's)"
stat -c '%A %s bytes %n' zarnik
echo "zarnik carries $(readelf -S zarnik | grep -c '\.debug_') debug sections"
