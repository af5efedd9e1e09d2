#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Uses an installed prefix as a user would and checks the result:
#   consumers.sh pkg-config|cmake <prefix> <road.c> <expected output> <scratch>
#     builds the list's typical road against the prefix and runs it, and
#     the exercises' main.o with add and sub of its own that use cyclar.o;
#   consumers.sh programs <prefix> <expected file list>|- - <scratch>
#     checks what was installed (unless the list is -), and runs the
#     installed selfbuild on the installed source in a scratch folder.
set -euo pipefail
how=$1 prefix=$2 source=$3 expected=$4 scratch=$5
rm -rf "$scratch"
mkdir -p "$scratch"
libdir=$(dirname "$(find "$prefix" -name liblistcore.so | head -n 1)")

if [ "$how" = programs ]; then
    # The list names the library folder lib/; GNUInstallDirs may choose another.
    rel_libdir=${libdir#"$prefix"/}
    [ "$source" = - ] || (cd "$prefix" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) |
        diff -u <(sed "s|^lib/|$rel_libdir/|" "$source" | LC_ALL=C sort) -
    cp "$prefix/share/qvx/selfbuild/selfbuild.cpp" "$scratch"
    (cd "$scratch" && "$prefix/bin/selfbuild" | cmp - <(printf 'the c : -20 \n'))
    [ -x "$scratch/zarnik" ] || { echo "selfbuild built no zarnik"; exit 1; }
    [ "$source" = - ] || echo "installed files as expected"
    echo "the installed selfbuild built zarnik"
    exit 0
fi

case $how in
pkg-config)
    export PKG_CONFIG_PATH=$libdir/pkgconfig
    objdir=$(pkg-config --variable=objdir listcore)
    # shellcheck disable=SC2046
    gcc -std=c11 -Wall -Werror $(pkg-config --cflags listcore) -o "$scratch/road" "$source" \
        "$objdir"/{prequill,postquill,twinpurge,topdrop,seeker,tally,lister}.o \
        $(pkg-config --libs listcore)
    exercisesdir=$(pkg-config --variable=exercisesdir listcore)
    # shellcheck disable=SC2046
    gcc -std=c11 -Wall -Werror $(pkg-config --cflags listcore) -o "$scratch/exercise" \
        "$(dirname "$0")/consumer/own_arith.c" "$exercisesdir"/{main,cyclar}.o
    ;;
cmake)
    cmake -S "$(dirname "$0")/consumer" -B "$scratch" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
        -DROAD_SOURCE="$source" -DCMAKE_C_FLAGS="-Wall -Werror" >/dev/null
    cmake --build "$scratch" >/dev/null
    ;;
esac
LD_LIBRARY_PATH=$libdir "$scratch/road" | cmp - "$expected"
"$scratch/exercise" | cmp - <(printf 'add : 2010 \nsub : -10 \nfinish')
echo "$how consumers: output as expected"
