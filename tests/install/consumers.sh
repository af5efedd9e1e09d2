#!/usr/bin/env bash
# Builds the list's typical road against an installed prefix, the two ways a
# user would, and checks what it prints.
#   consumers.sh pkg-config|cmake <prefix> <road.c> <expected output> <scratch>
set -euo pipefail
how=$1 prefix=$2 source=$3 expected=$4 scratch=$5
rm -rf "$scratch" && mkdir -p "$scratch"
libdir=$(dirname "$(find "$prefix" -name liblistcore.so | head -n 1)")

case $how in
pkg-config)
    export PKG_CONFIG_PATH=$libdir/pkgconfig
    objdir=$(pkg-config --variable=objdir listcore)
    # shellcheck disable=SC2046
    gcc -std=c11 -Wall -Werror $(pkg-config --cflags listcore) -o "$scratch/road" "$source" \
        "$objdir"/{prequill,postquill,twinpurge,topdrop,seeker,tally,lister}.o \
        $(pkg-config --libs listcore)
    ;;
cmake)
    cmake -S "$(dirname "$0")/consumer" -B "$scratch" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
        -DROAD_SOURCE="$source" -DCMAKE_C_FLAGS="-Wall -Werror" >/dev/null
    cmake --build "$scratch" >/dev/null
    ;;
esac
LD_LIBRARY_PATH=$libdir "$scratch/road" | cmp - "$expected"
echo "$how consumer: output as expected"
