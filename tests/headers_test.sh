#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The public headers as users compile them: listcore.h, cyclar.h and arith.h,
# each alone and included twice, by gcc and clang under every C standard from
# C99 and every C++ standard from C++11, with -Wall -Wextra -pedantic -Werror;
# and the names a program takes through them are C's in C++ too (extern "C").
#   headers_test.sh <top of the source tree> [kernel folder]
# The machine's gcc 12, clang 14 and clang 19 (Debian 12's, scripts/setup.sh
# installs them); a missing one is a skip. Given the folder of a Debian 13
# kernel (kernels.sh 6.12) with a build root, that root's gcc 14 too, as C
# (the root holds no C++ compiler); without one, a line says why not.
set -u
top=$(realpath "$1") kernel=${2-}
. "$(dirname "$0")/checks.sh"
. "$top/shell/common.sh"
. "$top/kernel_modules/tools/kernel_env.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch" ${work:+"$work"}' EXIT

# <header>|<names it gives, sorted>|<a function's body that uses each>
headers='listcore.h|add_after_node add_before_node cnt_nodes create_list delete_duplicate_nodes delete_node display head search_data swap_nodes topdrop|int32_t v[1] = {1}; create_list(v, 1); display(); delete_node(1); swap_nodes(1, 2); add_before_node(1, 2); add_after_node(1, 2); topdrop(); delete_duplicate_nodes(); return (int)(search_data(1) + cnt_nodes()) + !head;
cyclar.h|cyclar|int32_t v[2] = {1, 2}; cyclar(v, 1, 2); return (int)v[0];
arith.h|add sub|return (int)(add(1, 2) + sub(1, 2));'

# check <label> <C compiler> [C++ compiler]: every header under every
# standard, in $work (the compiler sees it at $seen, through "${run[@]}").
check() {
    local label=$1 cc=$2 cxx=${3-} compiler lang std name used header names body said
    local -a line=()
    mkdir -p "$work/include" && cp "$top/list_ops/listcore.h" "$top/exercises/"{cyclar,arith}.h "$work/include/" &&
        : >"$work/empty.c" || die "cannot prepare $work"
    for lang in c c++; do
        if [ $lang = c ]; then compiler=$cc; else compiler=$cxx; fi
        [ -n "$compiler" ] || continue
        line+=("$lang:")
        for std in $([ $lang = c ] && echo c99 c11 c17 c23 || echo c++11 c++14 c++17 c++20 c++23); do
            # Before a standard was published compilers named it by its
            # expected year: gcc 12 and clang 14 know C23 as c2x, clang 14
            # C++23 as c++2b.
            name=$std
            for used in "$std" "${std/%23/2x}" "${std/%23/2b}"; do
                "${run[@]}" "$compiler" -std="$used" -x $lang -fsyntax-only "$seen/empty.c" 2>/dev/null && break
                used=""
            done
            [ -n "$used" ] || { fail "$label ($compiler) knows no -std for $std"; continue; }
            [ "$used" = "$std" ] || name="$std(as $used)"
            line+=("$name")
            while IFS='|' read -r header names body; do
                printf '#include <%s>\n#include <%s>\nint use(void);\nint use(void) {\n    %s\n}\n' \
                    "$header" "$header" "$body" >"$work/use.c"
                said=$("${run[@]}" "$compiler" -std="$used" -x $lang -Wall -Wextra -pedantic -Werror \
                    -I"$seen/include" -c "$seen/use.c" -o "$seen/use.o" 2>&1) ||
                    { fail "$header under $label's $compiler -std=$used:$(printf '\n%s' "$said")"; continue; }
                same "names $header gives under $label's $compiler -std=$used" \
                    "$(nm -u "$work/use.o" | awk '{print $2}' | sort | tr '\n' ' ')" "$names "
            done <<<"$headers"
        done
    done
    echo "$label: ${line[*]}"
}

for pair in gcc:g++ clang:clang++ clang-19:clang++-19; do
    cc=${pair%:*} cxx=${pair#*:} missing=""
    command -v "$cc" >/dev/null || missing+=" $cc"
    command -v "$cxx" >/dev/null || missing+=" $cxx"
    [ -z "$missing" ] || { skip "missing:$missing (scripts/setup.sh installs them)"; continue; }
    work=$scratch/$cc seen=$work run=()
    check "$cc $("$cc" -dumpfullversion -dumpversion)" "$cc" "$cxx"
done

# Debian 13's gcc, where a build root holds it.
work="" why="no Debian 13 kernel folder given (the build makes one when it builds the kernel modules for 6.12)"
if [ -n "$kernel" ]; then
    why="$kernel has no build root"
    # shellcheck disable=SC2310 # kernel_env stops at its first failure by itself and sets why
    if [ -e "$kernel/buildroot" ] && kernel_env "$kernel"; then
        # shellcheck disable=SC2154 # kernel_env set root
        work=$(kernel_tmp) || die "no folder for the compiles in $root"
        seen=${work#"$root"}
        cc=$(sed 's/ .*//' "$kernel/compiler") || die "no compiler named in $kernel"
        check "$cc $("${run[@]}" "$cc" -dumpfullversion -dumpversion) in $(basename "$kernel")'s build root" "$cc"
        why=""
    fi
fi
[ -z "$why" ] || echo "not tried: gcc 14: $why"

finish "the headers compile cleanly under every standard"
