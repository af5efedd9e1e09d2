#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds what the demonstration shows (no debug kernel) and shows every
# component at work, one heading each.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

# condense <log>: the build's output kept in <log>; on the screen, the
# kernels' lines as they come and otherwise the build's latest line once
# 10 s have passed without one. On a terminal it is a single status line,
# cleared when the build is done, so the screen stays the components'.
condense() {
    local log=$1 line pending="" latest="" last=$SECONDS start=$SECONDS status tty=""
    [ -t 1 ] && tty=1
    show() {
        if [ -n "$tty" ]; then
            printf '\r\033[K%s' "${1:0:$((${COLUMNS:-80} - 1))}"
        else
            printf '%s\n' "$1"
        fi
        last=$SECONDS latest=""
    }
    : >"$log"
    while :; do
        IFS= read -r -t 2 line
        status=$?
        if [ $status -gt 128 ]; then
            pending+=$line
        else
            [ $status -eq 0 ] || [ -n "$pending$line" ] || break
            line=$pending$line pending=""
            printf '%s\n' "$line" >>"$log"
            case $line in
            kernel\ * | *": still at work"* | *": running "*) show "  $line" ;;
            *) latest=$line ;;
            esac
            [ $status -eq 0 ] || break
        fi
        if [ $((SECONDS - last)) -ge 10 ]; then
            show "  ${latest:-still building}, $((SECONDS - start)) s so far"
        fi
    done
    [ -z "$tty" ] || printf '\r\033[K'
}

echo "building the components into build/ (the first time also fetches Debian's kernels: about 2 minutes)"
start=$SECONDS
mkdir -p build
cmake --preset default >build/configure.log 2>&1 || { cat build/configure.log; exit 1; }
if ! cmake --build --preset default | condense build/build.log; then
    echo "demo: the build failed; the end of build/build.log:" >&2
    tail -n 30 build/build.log >&2
    exit 1
fi
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
