#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# fifodrain's throughput through its FIFO next to cat's through a FIFO of its
# own, on the same data, with the system calls each makes per byte.
#   fifodrain_bench.sh <fifodrain>        (figures for the record: no target)
set -euo pipefail
. "$(dirname "$0")/../shell/common.sh"
fifodrain=$(realpath "$1")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
mib=16
head -c $((mib << 20)) /dev/urandom >data

now() { date +%s.%N; }
rate() { awk -v s="$1" -v e="$2" -v m="$mib" 'BEGIN { printf "%.1f", m / (e - s) }'; }

# fifodrain creates ./fifofile and ends when the writer closes it. A writer
# waits in open() for a reader: each wait has its bound.
start=$(now)
"$fifodrain" >drained &
await 10 "fifodrain to create ./fifofile" test -p fifofile
feed 120 fifofile fifodrain <data
wait $!
end=$(now)
cmp -s data drained || { echo "fifodrain: output differs from the input" >&2; exit 1; }
drain_rate=$(rate "$start" "$end")

mkfifo catfifo
start=$(now)
cat catfifo >copied &
cat data >catfifo
wait $!
end=$(now)
cmp -s data copied || { echo "cat: output differs from the input" >&2; exit 1; }
cat_rate=$(rate "$start" "$end")

# System calls per byte, counted on 1 MiB.
head -c $((1 << 20)) data >small
per_byte() { # per_byte <command...> : reads the FIFO "fifofile"
    strace -f -c -e trace=read,write -o counts "$@" >/dev/null &
    local pid=$!
    await 10 "$1 under strace to create or open ./fifofile" test -p fifofile
    feed 120 fifofile "$1 under strace" <small
    wait $pid
    awk '$NF == "read" || $NF == "write" { n += $4 } END { printf "%.6f", n / 1048576 }' counts
}
rm -f fifofile
drain_calls=$(per_byte "$fifodrain")
rm -f fifofile
mkfifo fifofile
cat_calls=$(per_byte cat fifofile)

printf '%-44s %10s %16s\n' "copy of ${mib} MiB through a FIFO" "MiB/s" "syscalls/byte"
printf '%-44s %10s %16s\n' "fifodrain (reads of at most 5 bytes)" "$drain_rate" "$drain_calls"
printf '%-44s %10s %16s\n' "cat" "$cat_rate" "$cat_calls"
