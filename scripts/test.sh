#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds everything and runs every test: installs what is missing
# (scripts/setup.sh), then runs CMake's workflow "default", which configures
# and builds the release build with the debug kernels and runs the whole
# suite, the user-space unit tests under AddressSanitizer and
# UndefinedBehaviorSanitizer among them (the workflow "asan", run by the test
# "sanitizers"). A line at least every 15 s says what is at work.
#
#   scripts/test.sh [--strict]
#
# A test that cannot run here reports itself as skipped, with its reason; the
# skipped tests are listed at the end. With --strict, or under CI (CI=true),
# a skipped test fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
. shell/common.sh

strict=""
case ${CI:-} in "" | false | 0) ;; *) strict="CI=$CI" ;; esac
case ${1-} in
"") ;;
--strict) strict=--strict ;;
*) echo "usage: scripts/test.sh [--strict]" >&2 && exit 2 ;;
esac

scripts/setup.sh

# The suite's results, the sanitizers' and each cross build's (build/cross/<arch>).
results() { printf '%s\n' build/test-results.xml build/asan/test-results.xml build/cross/*/test-results.xml; }
results | xargs rm -f
status=0
# shellcheck disable=SC2310 # progress ends at its first failed write by itself
cmake --workflow --preset default 2>&1 | progress test || status=$?
mapfile -t results < <(results)

# Each test CTest did not run, with its output from the line that says why
# ("SKIP: ...") to GoogleTest's closing summary.
skipped=$(for junit in "${results[@]}"; do [ ! -f "$junit" ] || cat "$junit"; done | awk '
    /<testcase / {
        skip = /status="notrun"/ && match($0, /name="[^"]*"/)
        if (skip) print "skipped: " substr($0, RSTART + 6, RLENGTH - 7)
        why = 0
    }
    skip && /SKIP: / { why = 1; sub(/.*SKIP: /, "") }
    skip && why { if (/^\[/ || /<\/system-out>/) skip = 0; else print "    " $0 }' |
    sed "s/&lt;/</g; s/&gt;/>/g; s/&quot;/\"/g; s/&apos;/'/g; s/&amp;/\&/g")
[ -z "$skipped" ] || echo "$skipped"
count=$(grep -c '^skipped: ' <<<"$skipped" || true)
if [ "$count" -gt 0 ] && [ -n "$strict" ]; then
    echo "scripts/test.sh: $count test(s) skipped, which fails a run under $strict" >&2
    status=1
fi
exit $status
