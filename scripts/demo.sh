#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds what the demonstration shows (no debug kernel) and shows every
# component at work, one heading each.
set -euo pipefail
cd "$(dirname "$0")/.."

. shell/common.sh
scripts/setup.sh

echo "building the components into build/ (the first time also fetches Debian's kernels: about 2 minutes)"
start=$SECONDS
mkdir -p build
: >build/build.log
# No debug kernel: the demonstration shows none.
cmake --preset default -DDEBUG_KERNELS=OFF >build/configure.log 2>&1 || die_with_log build/configure.log "configuring failed"
# On the screen the kernels' lines as they come and otherwise a status line;
# the build's output in build/build.log.
cmake --build --preset default | progress -l build/build.log -s '^kernel ' building ||
    die_with_log build/build.log "the build failed"
echo "built in $((SECONDS - start)) s (the build's output: build/build.log)"
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
