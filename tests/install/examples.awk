#!/usr/bin/awk -f
# SPDX-License-Identifier: MIT
# The examples of a document as written: in markdown each fenced block, its
# tag the words after the fence; in a manual page each .EX block, its tag
# the words of the comment '.\" example: <tag>' before it, the page's
# escapes undone. Each block goes into <dir>/<n>, and a line
# "<n> <line> <tag>" per block to standard output (tag "-" when it has none).
#   awk -v dir=<folder> -f examples.awk <document>
function block(tag) {
    n++
    print n, FNR, (tag == "" ? "-" : tag)
    printf "" >(dir "/" n)
}
function unroff(s, rest) {
    rest = s
    gsub(/\\(-|\(aq|\(dq|&|e)/, "", rest)
    if (rest ~ /\\/) {
        print "examples.awk: " FILENAME ":" FNR ": an escape it does not undo: " s >"/dev/stderr"
        bad = 1
    }
    gsub(/\\-/, "-", s); gsub(/\\\(aq/, "'", s); gsub(/\\\(dq/, "\"", s); gsub(/\\&/, "", s); gsub(/\\e/, "\\", s)
    return s
}
BEGIN { roff = ARGV[1] !~ /\.md$/ }
!roff && /^```/ { if (!open) block(substr($0, 4)); else close(dir "/" n); open = !open; next }
roff && /^\.\\" example: / { tag = substr($0, 14); next }
roff && /^\.EX/ { block(tag); tag = ""; open = 1; next }
roff && /^\.EE/ { close(dir "/" n); open = 0; next }
open { print (roff ? unroff($0) : $0) >(dir "/" n) }
END { exit bad }
