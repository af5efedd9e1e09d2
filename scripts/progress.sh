#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copies standard input to standard output line by line and, whenever
# nothing has come for a while (longer than the 10 s between the lines
# of the steps that tick), says what is still at work, so that a long
# step never leaves anyone without a word for more than about 15 s.
#   ... | progress.sh <what> [seconds]     (default: every 12 s of silence)
# The line names <what> and how long it has been going on; for CTest's
# output, the tests still running and for how long.
set -uo pipefail
what=$1 quiet=${2:-12}
start=$SECONDS pending=""
declare -A running=()
while :; do
    IFS= read -r -t "$quiet" line
    status=$?
    if [ $status -gt 128 ]; then
        # Timed out: keep what came of a line, say what is going on.
        pending+=$line
        now="$what: still at work ($((SECONDS - start)) s so far)"
        if [ ${#running[@]} -gt 0 ]; then
            now="$what: running"
            for test in "${!running[@]}"; do
                now+=" $test ($((SECONDS - running[$test])) s)"
            done
        fi
        echo "$now"
        continue
    fi
    [ $status -eq 0 ] || [ -n "$pending$line" ] || break
    line=$pending$line pending=""
    printf '%s\n' "$line"
    if [[ $line =~ ^\ *Start\ +[0-9]+:\ (.*)$ ]]; then
        running[${BASH_REMATCH[1]}]=$SECONDS
    elif [[ $line =~ Test\ +#[0-9]+:\ ([^ ]+)\ \. ]]; then
        unset "running[${BASH_REMATCH[1]}]"
    fi
    [ $status -eq 0 ] || break
done
