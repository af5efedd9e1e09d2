#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds everything and runs every test: first the user-space unit tests
# under AddressSanitizer and UndefinedBehaviorSanitizer, then the whole suite
# (unit, binary-interface, program and kernel tests) on the release build,
# the debug kernels included (-DDEBUG_KERNELS=ON). Long steps say what they
# do as they go (scripts/progress.sh).
#
#   scripts/test.sh [--strict]
#
# A test that cannot run here reports itself as skipped, with its reason.
# With --strict, or under CI (CI=true), a skipped test fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

strict=""
case ${CI:-} in "" | false | 0) ;; *) strict="CI=$CI" ;; esac
case ${1-} in
"") ;;
--strict) strict=--strict ;;
*) echo "usage: scripts/test.sh [--strict]" >&2 && exit 2 ;;
esac

scripts/setup.sh

# run_tests <preset> <build folder>: CTest, then each test it reports as
# skipped, named, with its output from the first line that speaks of skipping
# (GoogleTest's closing summary left out).
skipped=()
run_tests() {
    local junit=$PWD/$2/test-results.xml
    ctest --preset "$1" --output-junit "$junit" | scripts/progress.sh ctest
    mapfile -t -O ${#skipped[@]} skipped < <(grep -o '<testcase name="[^"]*"[^>]*status="notrun"' \
        "$junit" | sed 's/<testcase name="\([^"]*\)".*/\1/')
    awk '/<testcase / {
             skip = /status="notrun"/; on = 0
             if (skip && match($0, /name="[^"]*"/)) print "skipped: " substr($0, RSTART + 6, RLENGTH - 7)
         }
         skip { sub(/.*<system-out>/, "") }
         skip && !on && tolower($0) ~ /skip/ && !/<skipped / { on = 1 }
         skip && on { if (/^\[/ || /<\/system-out>/) skip = 0; else print "    " $0 }' "$junit" |
        sed 's/&lt;/</g; s/&gt;/>/g; s/&quot;/"/g; s/&apos;/'"'"'/g; s/&amp;/\&/g'
}

cmake --preset asan
cmake --build --preset asan | scripts/progress.sh build
run_tests asan build/asan

cmake --preset default -DDEBUG_KERNELS=ON
cmake --build --preset default | scripts/progress.sh build
run_tests default build

if [ ${#skipped[@]} -gt 0 ] && [ -n "$strict" ]; then
    echo "scripts/test.sh: ${#skipped[@]} test(s) skipped, which fails a run under $strict:" \
        "${skipped[*]}" >&2
    exit 1
fi
