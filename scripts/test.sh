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
# skipped tests are listed at the end, and those CTest could not start (a
# fixture's setup failed), which fail the run. With --strict, or under CI
# (CI=true), a skipped test fails the run too.
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

# Each test CTest did not run. One that ran and reported a skip ("SKIP: ...",
# its skip return code) is listed as skipped, with its output from that line
# to GoogleTest's closing summary. One that could not start, because the
# setup of a fixture it needs failed or a file it requires is missing, is
# listed as not run, with CTest's reason: that fails the run.
listed=$(for junit in "${results[@]}"; do [ ! -f "$junit" ] || cat "$junit"; done | awk '
    function attribute(name) { return match($0, name "=\"[^\"]*\"") ? substr($0, RSTART + length(name) + 2, RLENGTH - length(name) - 3) : "" }
    /<testcase / { name = attribute("name"); notrun = /status="notrun"/; skip = why = 0 }
    notrun && /<skipped / {
        notrun = 0
        if (attribute("message") ~ /^SKIP_/) { skip = 1; print "skipped: " name; next }
        reason = attribute("message")
        if ((getline) > 0 && sub(/.*<system-out>/, "")) { sub(/<\/system-out>.*/, ""); reason = reason ": " $0 }
        print "not run: " name " (" reason ")"
    }
    skip && /SKIP: / { why = 1; sub(/.*SKIP: /, "") }
    skip && why { if (/^\[/ || /<\/system-out>/) skip = 0; else print "    " $0 }' |
    sed "s/&lt;/</g; s/&gt;/>/g; s/&quot;/\"/g; s/&apos;/'/g; s/&amp;/\&/g")
[ -z "$listed" ] || echo "$listed"
count=$(grep -c '^not run: ' <<<"$listed" || true)
if [ "$count" -gt 0 ]; then
    echo "scripts/test.sh: $count test(s) could not run, since what they need failed or is missing" >&2
    status=1
fi
count=$(grep -c '^skipped: ' <<<"$listed" || true)
if [ "$count" -gt 0 ] && [ -n "$strict" ]; then
    echo "scripts/test.sh: $count test(s) skipped, which fails a run under $strict" >&2
    status=1
fi
exit $status
