#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The binary interface of cyclar.o and main.o: what each defines and leaves
# undefined, nothing from the C++ runtime, and both linked by the C driver
# into programs that need libc alone.
#   objects_test.sh <folder with cyclar.o and main.o> <folder with their sources>
set -u
out=$(realpath "$1") src=$(realpath "$2")
. "$(dirname "$0")/../checks.sh"
# A name with a dot is the compiler's own (i386's PC thunks), in no interface.
strong() { nm -g --defined-only "$1" | awk '$2 ~ /[TDBR]/ && $3 !~ /[.]/ {print $3}' | tr '\n' ' '; }
undefined() { nm -u "$1" | awk '{print $2}' | sed 's/@.*//' | sort | tr '\n' ' '; }

for pair in cyclar:cyclar main:main; do
    obj=$out/${pair%%:*}.o
    same "symbols $obj defines" "$(strong "$obj")" "${pair#*:} "
    runtime=$(undefined "$obj" | tr ' ' '\n' | grep -E '^(_Z|__cxa|__gxx|_Unwind)')
    [ -z "$runtime" ] || fail "$obj needs the C++ runtime: $runtime"
done
undefined "$out/main.o" | grep -q "add .*sub " || fail "main.o must leave add and sub undefined"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1

# main.o with add and sub from outside: the project's own pair, and one that
# shows the argument order and the widest value.
cat >probe.c <<'C'
#include <stdint.h>
int32_t add(int32_t a, int32_t b) { return a * 1000 + b; }
int32_t sub(int32_t a, int32_t b) { return a - b + 10 + INT32_MIN; }
C
while IFS='|' read -r supplier want; do
    "$CC" -I"$src" -o main_prog "$out/main.o" "$supplier" || { fail "$CC cannot link main.o with $supplier"; continue; }
    $EMULATOR ./main_prog >got
    same "main with $supplier: status" "$?" 0
    same "main with $supplier: output" "$(od -c got)" "$(printf "$want" | od -c)"
done <<EOF2
$src/arith.c|add : 30 \\nsub : -10 \\nfinish
probe.c|add : 10020 \\nsub : -2147483648 \\nfinish
EOF2
same "libraries main_prog needs" "$(needed main_prog)" "[libc.so.6] "

# cyclar.o from C, through its header.
cat >rotate.c <<'C'
#include <stdio.h>
#include "cyclar.h"
int main(void) {
    int32_t v[] = {1, 2, 3, 4, 5};
    cyclar(v, 7, 5);
    for (int i = 0; i < 5; ++i)
        printf("%d ", v[i]);
    return 0;
}
C
if "$CC" -std=c11 -Wall -Wextra -Werror -pedantic -I"$src" -o rotate rotate.c "$out/cyclar.o"; then
    same "cyclar from C" "$($EMULATOR ./rotate)" "3 4 5 1 2 "
    same "libraries rotate needs" "$(needed rotate)" "[libc.so.6] "
else
    fail "$CC cannot build a C program with cyclar.o"
fi

finish
