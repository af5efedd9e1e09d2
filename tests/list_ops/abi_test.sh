#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The binary interface of the list deliverables: what liblistcore.so and each
# module object define, leave undefined and depend on, and that the public
# header is both C and C++.
#   abi_test.sh <folder with liblistcore.so and the .o files> <folder with listcore.h>
set -u
out=$1 include=$2
. "$(dirname "$0")/../checks.sh"
# A name with a dot is the compiler's own (i386's PC thunks), in no interface.
defined() { nm -g --defined-only "$@" | awk '$3 !~ /[.]/ {print $3}' | sort | tr '\n' ' '; }
undefined() { nm -u "$@" | awk '{print $2}' | sed 's/@.*//' | sort; }

lib=$out/liblistcore.so
same "exports of liblistcore.so" "$(nm -D --defined-only "$lib" | awk '{print $3}' | sort | tr '\n' ' ')" \
    "create_list delete_node display swap_nodes "
undefined -D "$lib" | grep -qx head || fail "liblistcore.so must leave head undefined"
same "libraries liblistcore.so needs" "$(needed "$lib")" "[libc.so.6] "
readelf -d "$lib" | grep -q SONAME && fail "liblistcore.so must carry no SONAME"

for pair in prequill:add_before_node postquill:add_after_node twinpurge:delete_duplicate_nodes \
    topdrop:topdrop seeker:search_data tally:cnt_nodes lister:display; do
    obj=$out/${pair%%:*}.o
    same "symbols defined by $obj" "$(defined "$obj")" "${pair#*:} "
    undefined "$obj" | grep -qx head || fail "$obj must leave head undefined"
    runtime=$(undefined "$obj" | grep -E '^(_Z|__cxa|__gxx|_Unwind)')
    [ -z "$runtime" ] || fail "$obj needs the C++ runtime: $runtime"
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
echo '#include "listcore.h"' >"$scratch/use.c"
"$CC" -std=c11 -Wall -Wextra -Werror -pedantic -I"$include" -c "$scratch/use.c" -o "$scratch/c.o" ||
    fail "listcore.h does not compile as C"
"$CXX" -std=c++20 -Wall -Wextra -Werror -pedantic -I"$include" -x c++ -c "$scratch/use.c" \
    -o "$scratch/cxx.o" || fail "listcore.h does not compile as C++"

finish
