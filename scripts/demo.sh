#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds what the demonstration shows (no debug kernel, no test) into a
# folder of its own, build/demonstration (preset "demo"), so that the build
# folder of the tests keeps what its preset says, and shows every component
# at work, one heading each. The parts in demo/ find the build in BUILD.
set -euo pipefail
cd "$(dirname "$0")/.."

. shell/common.sh
scripts/setup.sh

export BUILD=build/demonstration
echo "building the components into $BUILD/ (the first time also fetches Debian's Linux 5.10 and a root with its compiler: about 1.5 minutes)"
start=$SECONDS
mkdir -p "$BUILD"
: >"$BUILD/build.log"
cmake --preset demo >"$BUILD/configure.log" 2>&1 || die_with_log "$BUILD/configure.log" "configuring failed"
# On the screen the kernels' lines as they come and otherwise a status line;
# the build's output in its build.log.
# shellcheck disable=SC2310 # progress ends at its first failed write by itself
cmake --build --preset demo | progress -l "$BUILD/build.log" -s '^kernel ' building ||
    die_with_log "$BUILD/build.log" "the build failed"
echo "built in $((SECONDS - start)) s (the build's output: $BUILD/build.log)"
echo

# A part that cannot run here (status 77: the kernel part where no build
# root can be entered) has said why; the others go on.
start=$SECONDS skipped=""
for part in demo/[0-9]*.sh; do
    status=0
    bash "$part" || status=$?
    case $status in
    0) ;;
    77) skipped+=" $(basename "$part")" ;;
    *) exit $status ;;
    esac
    echo
done
echo "== demonstration finished in $((SECONDS - start)) s${skipped:+ (could not run here:$skipped)}"
