#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Uses an installed prefix as a user would and checks the result:
#   consumers.sh pkg-config|cmake <prefix> <road.c> <expected output> <scratch>
#     builds the list's typical road against the prefix, as C and as C++,
#     and runs both, and the exercises' main.o with add and sub of its own
#     that use cyclar.o;
#   consumers.sh programs <prefix> <expected file list>|- - <scratch>
#     checks what was installed (unless the list is -), that man finds a
#     page of the build's version (QVX_VERSION) for every name a user looks
#     up, and runs the installed selfbuild on the installed source;
#   consumers.sh examples <prefix> <document> - <scratch>
#     runs the document's examples as written (examples.awk takes them out;
#     docs/testing.md says how they are tagged), in order, in the scratch
#     folder, against the prefix; and checks its relative links.
set -euo pipefail
how=$1 prefix=$2 source=$3 expected=$4 scratch=$5
. "$(dirname "$0")/../checks.sh"
rm -rf "$scratch"
mkdir -p "$scratch"
libdir=$(dirname "$(find "$prefix" -name liblistcore.so | head -n 1)")

if [ "$how" = examples ]; then
    export PATH=$prefix/bin:$PATH PKG_CONFIG_PATH=$libdir/pkgconfig CMAKE_PREFIX_PATH=$prefix LD_LIBRARY_PATH=$libdir \
        CPATH=$prefix/include:$prefix/share/qvx/kernel_modules/qvx_device
    blocks=$(mktemp -d) && trap 'rm -rf "$blocks"' EXIT
    awk -v dir="$blocks" -f "$(dirname "$0")/examples.awk" "$source" >"$blocks/index"
    cd "$scratch"
    while read -r n line tag file; do
        at="$source:$line ($tag${file:+ $file})"
        case "$tag ${file:-}" in
        *norun*) echo "not run: $at" && continue ;;
        "c "?*) cp "$blocks/$n" "$file" && cc -std=c11 -Wall -Wextra -Werror -c -o /dev/null "$file" || fail "$at does not compile" ;;
        *" "?*) cp "$blocks/$n" "$file" ;;
        "sh ") timeout 30 sh -e "$blocks/$n" || fail "$at failed (status $?; 124: still at work after 30 s)" ;;
        "console ")
            # The lines after "$ ", with those continuing them, are run; the others are what they print.
            awk -v run="$blocks/$n.sh" -v want="$blocks/$n.want" \
                'more || /^\$ / { print (more ? $0 : substr($0, 3)) >run; more = /\\$/; next } { print >want }' "$blocks/$n"
            touch "$blocks/$n.want"
            timeout 30 sh -e "$blocks/$n.sh" >"$blocks/$n.got" 2>&1 || fail "$at failed (status $?; 124: still at work after 30 s)"
            diff -u "$blocks/$n.want" "$blocks/$n.got" || fail "$at printed other than it shows"
            ;;
        *) fail "$at: neither c <file>, sh nor console, and not marked norun" ;;
        esac
        echo "ran: $at"
    done <"$blocks/index"
    # Each relative link names a file, and a heading there when it says #<anchor>.
    slugs() { sed -n 's/^#\+ //p' "$1" | tr '[:upper:]' '[:lower:]' | sed 's/[^a-z0-9 _-]//g; s/ /-/g'; }
    while IFS=: read -r line link; do
        link=${link#\]\(} link=${link%\)} file=${link%%#*} anchor=${link#"$file"} target=$(dirname "$source")/${link%%#*}
        [ -n "$file" ] || target=$source
        [ -e "$target" ] || { fail "$source:$line: $link: no such file" && continue; }
        # shellcheck disable=SC2310 # slugs is one pipeline
        [ -z "$anchor" ] || slugs "$target" | grep -qx "${anchor#\#}" || fail "$source:$line: $link: no such heading"
    done < <(case $source in *.md) grep -on '\]([^):]*)' "$source" ;; esac)
    finish "every example ran as shown"
fi

if [ "$how" = programs ]; then
    # The list names the library folder lib/; GNUInstallDirs may choose another.
    rel_libdir=${libdir#"$prefix"/}
    [ "$source" = - ] || (cd "$prefix" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) |
        diff -u <(sed "s|^lib/|$rel_libdir/|" "$source" | LC_ALL=C sort) -
    # Given the build's version (the install test, the package test's
    # roots), man's pages: found without man-db's index, of that version.
    [ -n "${QVX_VERSION:-}" ] || echo "the manual pages not looked up (no QVX_VERSION given)"
    for name in ${QVX_VERSION:+create_list display delete_node swap_nodes add_before_node add_after_node topdrop \
        delete_duplicate_nodes search_data cnt_nodes cyclar devpoke fifodrain selfbuild qvx_device}; do
        command -v man >/dev/null || { skip "no man here (Debian package man-db)" && break; }
        MANPATH=$prefix/share/man man -w "$name" >/dev/null || { fail "man finds no page $name" && continue; }
        MANPATH=$prefix/share/man MANWIDTH=200 man "$name" 2>&1 | grep -qF "toolkit $QVX_VERSION" ||
            fail "man $name: the page does not say version $QVX_VERSION"
    done
    cp "$prefix/share/qvx/selfbuild/selfbuild.cpp" "$scratch"
    (cd "$scratch" && "$prefix/bin/selfbuild" | cmp - <(printf 'the c : -20 \n'))
    [ -x "$scratch/zarnik" ] || { echo "selfbuild built no zarnik"; exit 1; }
    [ "$source" = - ] || echo "installed files as expected"
    finish "the installed selfbuild built zarnik"
fi

case $how in
pkg-config)
    export PKG_CONFIG_PATH=$libdir/pkgconfig
    objdir=$(pkg-config --variable=objdir listcore)
    # shellcheck disable=SC2046
    gcc -std=c11 -Wall -Werror $(pkg-config --cflags listcore) -o "$scratch/road" "$source" \
        "$objdir"/{prequill,postquill,twinpurge,topdrop,seeker,tally,lister}.o \
        $(pkg-config --libs listcore)
    # shellcheck disable=SC2046
    g++ -std=c++20 -Wall -Werror $(pkg-config --cflags listcore) -o "$scratch/road_cxx" -x c++ "$source" -x none \
        "$objdir"/{prequill,postquill,twinpurge,topdrop,seeker,tally,lister}.o $(pkg-config --libs listcore)
    exercisesdir=$(pkg-config --variable=exercisesdir listcore)
    # shellcheck disable=SC2046
    gcc -std=c11 -Wall -Werror $(pkg-config --cflags listcore) -o "$scratch/exercise" \
        "$(dirname "$0")/consumer/own_arith.c" "$exercisesdir"/{main,cyclar}.o
    ;;
cmake)
    cmake -S "$(dirname "$0")/consumer" -B "$scratch" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
        -DROAD_SOURCE="$(realpath "$source")" -DCMAKE_C_FLAGS="-Wall -Werror" -DCMAKE_CXX_FLAGS="-Wall -Werror" >/dev/null
    cmake --build "$scratch" >/dev/null
    ;;
esac
for road in road road_cxx; do
    LD_LIBRARY_PATH=$libdir "$scratch/$road" | cmp - "$expected"
done
"$scratch/exercise" | cmp - <(printf 'add : 2010 \nsub : -10 \nfinish')
echo "$how consumers, C and C++: output as expected"
