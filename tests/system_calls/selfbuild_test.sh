#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# selfbuild as a user runs it: in a scratch folder holding its source, through
# a pipe, under strace, and with /usr/bin/gcc missing or not executable (strace
# makes its execve fail).
#   selfbuild_test.sh <selfbuild program> <selfbuild.cpp>
set -u
bin=$(realpath "$1") source=$(realpath "$2")
. "$(dirname "$0")/../checks.sh"
line=$'the c : -20 \n'

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fresh() { # fresh <name>: an empty folder holding only the source; cd there
    mkdir "$scratch/$1" && cp "$source" "$scratch/$1/" && cd "$scratch/$1" || exit 1
}

# The line survives the pipe, and the compiler leaves a debug build of this
# very source. ($(...) would eat the newline, hence the files.)
fresh pipe
timeout 120 $EMULATOR "$bin" | cat >out
same "status through a pipe" "${PIPESTATUS[0]}" 0
same "output through a pipe" "$(od -c out)" "$(printf %s "$line" | od -c)"
[ -x zarnik ] || fail "no zarnik built"
readelf --debug-dump=info zarnik 2>/dev/null | grep -q 'DW_AT_name.*: selfbuild\.cpp$' ||
    fail "zarnik carries no debug information about selfbuild.cpp"

same "libraries selfbuild needs" "$(needed "$bin")" "[libc.so.6] "

# The rest needs strace to trace its own child, which some sandboxes forbid.
why=$(strace -o /dev/null true 2>&1) || { skip "strace cannot trace here: $why"; finish; }

# Exactly one replacement, by the path, with the exact arguments, and the
# environment handed on unchanged (-v prints it in full).
fresh strace
timeout 120 strace -f -qq -v -s 4096 -e trace=execve -o trace $EMULATOR "$bin" >/dev/null
mapfile -t calls < <(grep -o 'execve(.*' trace)
first=${calls[0]-} second=${calls[1]-}
want_args='"/usr/bin/gcc", ["gcc", "-g", "-o", "zarnik", "selfbuild.cpp"], '
same "the replacement" "${second:0:${#want_args}+7}" "execve($want_args"
env_of() { # the environment array of one execve line, with the settings $2 (NAME=VALUE ...) made
    local call=${1%) = 0}
    call=${call#*\], }
    # qemu's user-mode emulation hands a program its environment in the
    # reverse order: under it, the entries count, not their order.
    if [ -z "$EMULATOR" ]; then echo "$call"; else echo "$call" | sed 's/^\[//; s/\]$//; s/", "/"\n"/g' |
        awk -v made="${2-}" 'BEGIN { for (n = split(made, s, " "); n > 0; n--) { name = s[n]; sub(/=.*/, "", name); set[name] = "\"" s[n] "\"" } }
            { name = substr($0, 2); sub(/=.*/, "", name) } !(name in set)
            END { for (name in set) print set[name] }' | sort; fi
}
# How strace started it: the program itself, or the emulator running it,
# which gives it the settings of its -E.
read -ra start <<<"$EMULATOR"
start+=("$bin")
own_args="\"$(command -v "${start[0]}")\", [$(printf '"%s", ' "${start[@]}" | sed 's/, $//')], "
same "selfbuild's own start" "${first:0:${#own_args}+7}" "execve($own_args"
made=$(printf '%s\n' "${start[@]}" | awk 'flag == "-E" { printf "%s ", $0 } { flag = $0 }')
same "environment handed to gcc" "$(env_of "$second")" "$(env_of "$first" "$made")"

# No compiler to turn into: the line, a reason, the shell's status. (strace
# does not count the execve that starts the program: when=1 is selfbuild's.)
while IFS='|' read -r what error status reason; do
    fresh "no-compiler-$status"
    strace -o /dev/null -e trace=execve -e inject=execve:error="$error":when=1 $EMULATOR "$bin" >out 2>err
    same "$what: status" "$?" "$status"
    same "$what: output" "$(od -c out)" "$(printf %s "$line" | od -c)"
    grep -q "$reason" err || fail "$what: no reason on standard error: $(cat err)"
    [ ! -e zarnik ] || fail "$what: zarnik appeared"
done <<'EOF'
compiler missing|ENOENT|127|No such file or directory
compiler not executable|EACCES|126|Permission denied
EOF

finish
