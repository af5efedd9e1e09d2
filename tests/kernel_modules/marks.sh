# SPDX-License-Identifier: MIT
# shellcheck shell=sh
# The marks by which what runs in a test VM and the harness on the host
# talk: lines "@@ <mark> [words]" on the VM's console or in its kernel's log.
# Both sides source this file: vm.sh and the other harness scripts, and in
# the VM its /init and every scenario (the scenarios' makers print it at
# their top: a scenario runs in a booted system too). reports.awk and the
# awk in vm.sh, and failnth.c, cannot: they name below what they read and
# write.
#   scenario begin          /init, on the console and in the kernel's log:
#                           the scenario starts; a report before it is the
#                           kernel's own (reports.awk)
#   scenario end <status>   /init: the scenario ended, with its status
#   scenario begin at <n> s, scenario end at <n> s, kernel <release>,
#   dkms <status>           package_test.sh's booted system: when its checks
#                           began and ended (s after boot), kernel and dkms
#                           status
#   kernel log end          /init: the last record of the kernel's log
#   kmemleak                /init: kmemleak's list follows the log it sends
#                           out (reports.awk)
#   kernel log, kernel log sent
#                           /init, on the log's port: what it sends between
#   kernel log lost <n> records
#                           vm.sh's awk: a gap in the log (reports.awk)
#   ended <scenario>        a scenario ran to its end (checks.sh's ended;
#                           failnth.c's "ended fault-injection")
#   begin <part>, end <part>
#                           the lines between are that part's (between)
#   workers left running    turnpair's workers outlived its unloads
#   node <ls -l line>       devpoke's scenario in a booted system: the node
#   failnth <what> <n>      failnth.c, in the kernel's log: a try begins
# devpoke_test.sh's transcript of each dialogue has lines of its own ("@@
# case <name>", "@@ stderr", "@@ status <n>", "@@ driver"), which that file
# alone writes and reads.

# mark <mark> [words]: prints the mark.
mark() { echo "@@ $*"; }
# marked <mark> <file>: whether <file> has a line "@@ <mark>".
marked() { grep -qx "@@ $1" "$2"; }
# after <mark> <file>: the words after each "@@ <mark> " in <file>.
after() { sed -n "s/^@@ $1 //p" "$2"; }
# between <part> <file>: the lines between "@@ begin <part>" and "@@ end <part>".
between() { sed -n "/^@@ begin $1\$/,/^@@ end $1\$/p" "$2" | sed '1d;$d'; }
