#!/usr/bin/awk -f
# SPDX-License-Identifier: MIT
# Sorts the reports in a kernel's log into those about the modules under
# test and the kernel's own, and checks that every checker the kernel was
# built with announced itself at boot.
#   awk -v modules="turnpair qvx_device" -v config=<kernel .config> -f reports.awk <kernel log>
# The log has a line per record, "<level>text" (vm.sh writes it), and ends
# with the line "@@ kmemleak" and kmemleak's list when the kernel has
# kmemleak; a line "@@ kernel log lost N records" marks a gap.
# Prints the first report about the modules and ends with status 1; prints
# how many reports were the kernel's own.
#
# A data-race report (KCSAN) names both racing functions in its first line,
# and only those count: its stack traces may pass through a module that
# merely called into the racing code (printk's ring buffer, say). Any other
# report is about a module when a symbol in it is the module's ("[name]")
# or a stack frame is an address with no symbol: the code of a module that
# has since been unloaded, and the VM loads no modules but those under test.

function begin_report() {
    close_report()
    open = 1
    nlines = 0
    ours = 0
    kcsan = $0 ~ /^BUG: KCSAN: /
}
function close_report() {
    if (!open)
        return
    open = 0
    if (ours) {
        nours++
        if (nours == 1)
            for (i = 1; i <= nlines && i <= 60; i++)
                first = first "    " text[i] "\n"
    } else {
        nown++
        kind = text[1]
        gsub(/0x[0-9a-f]+/, "0x...", kind)
        if (!(kind in seen))
            kinds[++nkinds] = kind
        seen[kind]++
    }
}
function mentions_ours(line,    i) {
    for (i = 1; i <= nmods; i++)
        if (index(line, "[" mods[i] "]"))
            return 1
    return 0
}

BEGIN {
    nmods = split(modules, mods)
    # The checkers the kernel was built with, and how each announces itself.
    while (config != "" && (getline option <config) > 0) {
        if (option == "CONFIG_KASAN=y") want["KernelAddressSanitizer initialized"] = "KASAN"
        if (option == "CONFIG_PROVE_LOCKING=y") want["Lock dependency validator"] = "lockdep"
        if (option == "CONFIG_KCSAN=y") want["kcsan: enabled early"] = "KCSAN"
        if (option == "CONFIG_DEBUG_KMEMLEAK=y") want["@@ kmemleak"] = "kmemleak (its scan)"
    }
}

/^@@ kernel log lost / { lost += $5; next }
{ sub(/^<[0-9]+>/, "") }
{ for (line in want) if (index($0, line)) delete want[line] }

/^(BUG|WARNING|watchdog: BUG|Oops|general protection fault|kernel BUG at|Kernel panic|rcu: INFO|UBSAN): / ||
/^INFO: task .* blocked for more than/ || /^unreferenced object 0x/ {
    begin_report()
}
# A failure injected on purpose logs its stack (fault injection's verbose
# mode): no report, and no part of one.
/^=+$/ || /^-+\[ (cut here|end trace.*) \]-+$/ || /^@@ / || /^FAULT_INJECTION: forcing a failure/ {
    close_report()
    next
}
open {
    text[++nlines] = $0
    if (kcsan ? nlines == 1 && mentions_ours($0) : mentions_ours($0))
        ours = 1
    # An unresolved frame: " 0xffffffffc0001234", "[<...>] 0x...",
    # "RIP: 0010:0x..." (not "? 0x...": a stale value the unwinder came upon;
    # nor "RIP: 0033:0x...": user space, where a report may find a task).
    if (!kcsan && ($0 ~ /^ *0x[0-9a-f]+$/ || $0 ~ /(\] |RIP: 0010:)0x[0-9a-f]+$/))
        ours = 1
}

END {
    close_report()
    status = 0
    for (line in want) {
        printf "the kernel has %s, but its log lacks \"%s\": the checker was not active\n", want[line], line
        status = 1
    }
    if (lost) {
        printf "the kernel's log lost %d records on the way: a report may be among them\n", lost
        status = 1
    }
    if (nours) {
        printf "%d report(s) about the modules under test (%s); the first:\n%s", nours, modules, first
        status = 1
    }
    printf "%d report(s) of the kernel's own%s\n", nown, nown ? ":" : ""
    for (i = 1; i <= nkinds; i++)
        printf "    %dx %s\n", seen[kinds[i]], kinds[i]
    exit status
}
