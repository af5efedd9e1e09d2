# What the shell tests share: failures counted rather than fatal, so one run
# reports them all. Sourced: . "$(dirname "$0")/../checks.sh"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
same() { # same <what> <got> <want>
    [ "$2" = "$3" ] || fail "$1: got [$2], want [$3]"
}
# The libraries a binary needs, space-separated: "[libc.so.6] ".
needed() { readelf -d "$1" | awk '/NEEDED/ {print $5}' | tr '\n' ' '; }
# finish [message]: the message (default "all checks passed") when nothing
# failed; exits 1 otherwise.
finish() {
    [ "$failures" -eq 0 ] && echo "${1:-all checks passed}"
    exit $((failures != 0))
}
