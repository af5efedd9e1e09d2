# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# The habits the project's shell shares, each written once. Sourced by the
# user's commands (scripts/), the kernel tooling (kernel_modules/tools/), the
# tests' harnesses and CI:   . "<top>/shell/common.sh"
#
#   die <message>            the message on standard error after the program's
#                            name (ME, else the script's file name); exit 1
#   die_with_log <log> <message>
#                            the same, then the last LOG_TAIL (30) lines of <log>
#   cache_lock <folder> <seconds> <what>
#                            holds <folder>/.lock (descriptor 9) until the
#                            process ends (or closes 9); while another
#                            process holds it, says it waits for <what> and
#                            waits, dying after <seconds> naming <what>
#   cache_complete <folder> [key]
#                            whether <folder> was stamped finished (for <key>)
#   cache_stamp <folder> [key]
#                            stamps <folder> finished (for <key>), the stamp
#                            as new as the call (build rules depend on it)
#   cache_unstamp <folder>   takes the stamp away, before <folder> is remade
#   copy_source <top> <dest> [<outside>]
#                            the source tree at <top> into <dest>, without
#                            git's folder, build folders (build/, and any
#                            other holding a CMakeCache.txt) and <outside>
#                            (a folder that holds <dest>; <dest> itself unless
#                            said); dies when <dest> or <outside> is the tree
#                            or holds it
#   defaults <file>          each line NAME=<number> of <file> as a shell
#                            variable, unless the environment sets it
#   await <seconds> <what> <command>...
#                            runs the command every 0.02 s until it succeeds;
#                            dies naming <what> once <seconds> have passed
#   feed <seconds> <fifo> <reader>
#                            standard input into the FIFO <fifo>, read by
#                            <reader> (a writer waits in open() until a
#                            reader comes); dies when it is not all read
#                            within <seconds>, naming <reader>
#   stop_group <group> <what>
#                            stops the process group <group> (setsid's)
#                            unless it is gone, waiting 30 s at most
#   progress [-l <log>] [-s <pattern>] [-n <seconds>] <what>
#                            the filter that speaks after a silence (below)

die() {
    echo "${ME:-${0##*/}}: $*" >&2
    exit 1
}

die_with_log() {
    local log=$1
    shift
    echo "${ME:-${0##*/}}: $*; the end of $log:" >&2
    tail -n "${LOG_TAIL:-30}" "$log" >&2
    exit 1
}

cache_lock() {
    mkdir -p "$1"
    exec 9>"$1/.lock"
    flock -n 9 || {
        echo "waiting for $3 (at most $2 s)"
        flock -w "$2" 9 || die "gave up after $2 s waiting for $3 ($1/.lock is still held)"
    }
}

defaults() {
    local name value
    while IFS='=' read -r name value; do
        [ -n "${!name:-}" ] || printf -v "$name" %s "$value"
    done < <(grep -E '^[A-Z_]+=[0-9]+$' "$1")
}

cache_complete() {
    [ -f "$1/.complete" ] && [ "$(cat "$1/.complete")" = "${2-}" ]
}

cache_stamp() {
    echo "${2-}" >"$1/.complete"
}

cache_unstamp() {
    rm -f "$1/.complete"
}

copy_source() {
    local top dest outside
    top=$(realpath -e "$1") && dest=$(realpath -m "$2") && outside=$(realpath -m "${3:-$2}") || return
    # Into the tree itself (scripts/package.sh .) the copy would take in
    # itself without end; into a folder above it, it would write over it.
    case $top/ in "${dest%/}"/* | "${outside%/}"/*)
        die "will not copy the source tree $top into $dest: $outside is the tree or holds it (give a folder outside the tree, or in its build/)"
        ;;
    esac
    mkdir -p "$dest" || return
    (cd "$top" && tar -c --exclude=./.git --exclude=./build --exclude-tag-all=CMakeCache.txt \
        --exclude="./${outside#"$top"/}" .) | tar -x -C "$dest"
}

await() {
    local limit=$1 what=$2 end=$((SECONDS + $1))
    shift 2
    until "$@"; do
        [ $SECONDS -lt $end ] || die "gave up waiting for $what after $limit s"
        sleep 0.02
    done
}

stop_group() {
    gone() { ! kill -0 -- "-$1" 2>/dev/null; }
    gone "$1" || { kill -- "-$1" 2>/dev/null; await 30 "$2 to stop" gone "$1"; }
}

feed() {
    local status=0
    timeout "$1" tee "$2" >/dev/null || status=$?
    [ $status -ne 124 ] || die "$3 did not read $2 within $1 s"
    [ $status -eq 0 ] || die "$3 stopped reading $2 (the writer's status $status)"
}

# A long step never leaves anyone without a word for more than about 15 s:
#
#   ... | progress <what>      copies its input line by line and, after
#       -n seconds (12) without one, says what is still at work: for CTest's
#       output the tests running and for how long, else "<what>: still at
#       work (N s so far)".
#   ... | progress -l <log> [-s <pattern>] <what>
#       adds the lines to <log> and shows only those matching the extended
#       regular expression <pattern> as they come; whenever -n seconds (10)
#       have passed with nothing shown, "<what>: <the latest line>, N s so
#       far" (without a line yet, "<what>, N s so far"). On a terminal that
#       is one status line, redrawn in place and cleared at the end, so the
#       screen stays for the lines shown and what follows.
# Run in pipelines whose status is tested, where set -e does not hold, it
# ends at its first failed write by itself.
progress() {
    local log="" show="" quiet="" OPTIND=1 opt
    while getopts l:s:n: opt; do
        case $opt in
        l) log=$OPTARG ;;
        s) show=$OPTARG ;;
        n) quiet=$OPTARG ;;
        *) die "usage: progress [-l log] [-s pattern] [-n seconds] <what>" ;;
        esac
    done
    shift $((OPTIND - 1))
    local what=$1 start=$SECONDS last=$SECONDS line pending="" latest="" status tty="" test wait
    local -A running=()
    # Without a log, a read waits as long as the silence allowed; with one,
    # the status is looked at every 2 s.
    if [ -n "$log" ]; then
        : "${quiet:=10}" && wait=2
        [ ! -t 1 ] || tty=1
    else
        : "${quiet:=12}" && wait=$quiet
    fi
    while :; do
        status=0
        IFS= read -r -t $wait line || status=$?
        if [ $status -gt 128 ]; then
            pending+=$line # a line not ended yet
        else
            [ $status -eq 0 ] || [ -n "$pending$line" ] || break
            line=$pending$line pending=""
            if [ -n "$log" ]; then
                printf '%s\n' "$line" >>"$log" || return
                latest=${line#"${line%%[![:space:]]*}"}
                [ -z "$show" ] || ! [[ $line =~ $show ]] || progress_say "$line" keep || return
            else
                printf '%s\n' "$line" || return
                last=$SECONDS
                if [[ $line =~ ^\ *Start\ +[0-9]+:\ (.*)$ ]]; then
                    running[${BASH_REMATCH[1]}]=$SECONDS
                elif [[ $line =~ Test\ +#[0-9]+:\ ([^ ]+)\ \. ]]; then
                    unset "running[${BASH_REMATCH[1]}]"
                fi
            fi
            [ $status -eq 0 ] || break
        fi
        [ $((SECONDS - last)) -ge "$quiet" ] || continue
        if [ -n "$log" ]; then
            progress_say "$what${latest:+: $latest}, $((SECONDS - start)) s so far" || return
        elif [ ${#running[@]} -gt 0 ]; then
            line="$what: running"
            for test in "${!running[@]}"; do
                line+=" $test ($((SECONDS - running[$test])) s)"
            done
            progress_say "$line" || return
        else
            progress_say "$what: still at work ($((SECONDS - start)) s so far)" || return
        fi
    done
    [ -z "$tty" ] || printf '\r\033[K'
}

# progress_say <line> [keep]: progress's word on the screen; on a terminal
# in place of the status line, which it replaces unless kept.
progress_say() {
    last=$SECONDS
    if [ -n "$tty" ] && [ -z "${2-}" ]; then
        printf '\r\033[K%s' "${1:0:$((${COLUMNS:-80} - 1))}"
    elif [ -n "$tty" ]; then
        printf '\r\033[K%s\n' "$1"
    else
        printf '%s\n' "$1"
    fi
}
