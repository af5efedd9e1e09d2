#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# fifodrain: shell writers feeding ./fifofile in a scratch folder, once with a
# FIFO the program creates, once with one it finds.
set -eu
. shell/common.sh
echo "== fifodrain: writers feeding ./fifofile ($BUILD/fifo_server/fifodrain)"
bin=$PWD/$BUILD/fifo_server/fifodrain
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

echo "-- no fifofile yet: fifodrain creates it, waits for a writer, ends when it closes"
timeout 10 "$bin" >out &
drain=$!
await 2 "fifodrain to create ./fifofile" test -p fifofile
stat -c '   created: %A %n' fifofile
printf 'hello through the FIFO\nand a second line from the same writer\n' | feed 5 fifofile fifodrain
status=0 && wait $drain || status=$?
sed 's/^/   copied:  /' out
echo "   fifodrain ended with status $status"

echo "-- fifofile present: fifodrain keeps reading after every writer, until stopped"
timeout 10 "$bin" >out &
drain=$!
echo "first writer" | feed 5 fifofile fifodrain
echo "second writer, after the first closed" | feed 5 fifofile fifodrain
sleep 0.2
sed 's/^/   copied:  /' out
echo "   both writers have closed; fifodrain never sees end of file here: stopping it"
kill $drain && wait $drain || true
