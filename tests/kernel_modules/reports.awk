#!/usr/bin/awk -f
# SPDX-License-Identifier: MIT
# Sorts the reports in a kernel's log into those about the modules under
# test and the kernel's own, and checks that every checker the kernel was
# built with announced itself at boot.
#   awk -v modules="turnpair qvx_device" -v config=<kernel .config> \
#       [-v baseline=<kernel log>] -f reports.awk <kernel log>
# The logs have a line per record, "<level>text" (vm.sh writes them), the
# line "@@ scenario begin" where the scenario started, and end with the line
# "@@ kmemleak" and kmemleak's list when the kernel has kmemleak; a line
# "@@ kernel log lost N records" marks a gap.
# Prints the first report about the modules and ends with status 1; prints
# how many reports were the kernel's own.
#
# A report logged before the scenario began is the kernel's own: nothing of
# the modules ran yet. Any other is about the modules when a symbol in it is
# theirs ("[name]") or a stack frame is an address with no symbol: the code
# of a module that has since been unloaded, and the VM loads no modules but
# those under test. A report naming nothing of theirs is judged by the
# baseline, the log of the same scenario run without the modules, when
# there is one (not for Debian's kernels): it is theirs unless the baseline
# has one of the same kind (its first line, without numbers and addresses)
# with the same top frames below the checkers' own (a worker task leaked
# through kthreadd, or a reference dropped twice and reported from an RCU
# callback, names no symbol of theirs). A stall, a soft lockup or a hung
# task naming nothing of theirs is what a loaded machine's emulation gives
# too: it is theirs only when the scenario failed as well (scenario_status,
# from vm.sh, not 0). A data-race report (KCSAN) counts only by the two
# racing functions in its first line, with a baseline or without: its stack
# traces may pass through a module that merely called into the racing code
# (printk's ring buffer, say), and a race inside the kernel's own code that
# only the modules' calls bring about is not in the baseline either (4
# processes contending for qvx_device's mutex: "data-race in osq_lock /
# osq_wait_next", in the kernel's optimistic spinning, in 6.1).

# The frames a report is matched by, below the line that names it and the
# checkers' own frames (printing, the allocator's, lockdep's, KASAN's...),
# which many reports share.
function top_frames() { return 4 }
function checkers_own(f) {
    return f ~ /^(dump_stack|__dump_stack|show_stack|print_|__warn|warn_|report_bug|handle_bug|exc_|asm_exc_)/ ||
        f ~ /^(__?lock_acquire|lock_acquired|lockdep_|mark_lock|check_|validate_chain|__might_|___might_)/ ||
        f ~ /^(_?_?_?kmalloc|__kmem_cache|kmem_cache_alloc|slab_|__slab|___slab|kmemleak_|kasan_|__kasan_)/ ||
        f ~ /^(kfree|__kfree|kmem_cache_free|kvfree|ubsan_|__ubsan_|stack_trace_|stack_depot|refcount_warn)/
}

function begin_report() {
    close_report()
    open = 1
    nlines = nframes = ours = 0
    kcsan = $0 ~ /^BUG: KCSAN: /
    timing = $0 ~ /^(rcu: INFO: .*stall|watchdog: BUG: soft lockup|INFO: task .* blocked for more than)/
    kind = $0
    gsub(/0x[0-9a-f]+/, "0x...", kind)
    signature = $0
    gsub(/\+0x[0-9a-f]+\/0x[0-9a-f]+|0x[0-9a-f]+|[0-9]+/, "", signature)
}
# A stack frame's function, or "" for a line that is none: "func+0x1/0x2
# [mod]", "[<00000000a1b2c3d4>] func+0x1/0x2" (kmemleak; "(____ptrval____)"
# for the address before the kernel can hash it), "RIP: 0010:func+...", an
# unresolved " 0xffffffffc0001234"; not "? func+...", a stale value the
# unwinder came upon.
function frame(line) {
    sub(/^ *(\[<[^>]*>\] |RIP: 0010:)?/, "", line)
    if (line ~ /^0x[0-9a-f]+$/)
        return "0x"
    if (line !~ /^[A-Za-z_][A-Za-z0-9_.]*\+0x[0-9a-f]+\/0x[0-9a-f]+( \[[A-Za-z0-9_]+\])?$/)
        return ""
    sub(/\+.*/, "", line)
    return line
}
function close_report(    i) {
    if (!open)
        return
    open = 0
    if (reading_baseline) {
        base[signature] = 1
        nbase++
        return
    }
    if (!ours && timing)
        ours = scenario_status + 0 != 0
    else if (!ours && baseline != "" && !kcsan)
        ours = !(signature in base)
    if (ours && begun) {
        nours++
        if (nours == 1)
            for (i = 1; i <= nlines && i <= 60; i++)
                first = first "    " text[i] "\n"
    } else {
        nown++
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
    # The baseline's reports first, by the same rules.
    if (baseline != "") {
        reading_baseline = 1
        while ((got = getline <baseline) > 0) {
            sub(/^<[0-9]+>/, "")
            read_line()
        }
        close_report()
        reading_baseline = 0
    }
}

function read_line() {
    if ($0 ~ /^(BUG|WARNING|watchdog: BUG|Oops|general protection fault|kernel BUG at|Kernel panic|rcu: INFO|UBSAN): / ||
        $0 ~ /^INFO: task .* blocked for more than/ || $0 ~ /^unreferenced object 0x/)
        begin_report()
    # A failure injected on purpose logs its stack (fault injection's verbose
    # mode): no report, and no part of one.
    if ($0 ~ /^=+$/ || $0 ~ /^-+\[ (cut here|end trace.*) \]-+$/ || $0 ~ /^@@ / ||
        $0 ~ /^FAULT_INJECTION: forcing a failure/) {
        close_report()
        return
    }
    if (!open)
        return
    text[++nlines] = $0
    if (kcsan ? nlines == 1 && (mentions_ours($0) || $0 ~ / 0x[0-9a-f]+( |$)/) : mentions_ours($0))
        ours = 1
    f = frame($0)
    if (f == "")
        return
    if (f == "0x" && !kcsan)
        ours = 1
    if (nlines > 1 && !checkers_own(f) && ++nframes <= top_frames())
        signature = signature " < " f
}

/^@@ kernel log lost / { lost += $5; next }
{ sub(/^<[0-9]+>/, "") }
/^@@ scenario begin$/ { begun = 1 }
{ for (line in want) if (index($0, line)) delete want[line] }
{ read_line() }

# A fault found: said, and the status is 1.
function problem(text) {
    printf "%s", text
    status = 1
}
END {
    close_report()
    for (line in want)
        problem(sprintf("the kernel has %s, but its log lacks \"%s\": the checker was not active\n", want[line], line))
    if (lost)
        problem(sprintf("the kernel's log lost %d records on the way: a report may be among them\n", lost))
    if (got < 0)
        problem("cannot read the baseline " baseline "\n")
    if (!begun)
        problem("the kernel's log lacks the mark of the scenario's start: no report can be told apart\n")
    if (baseline != "")
        printf "%d report(s) of the kernel's own in its run without the modules\n", nbase
    if (nours)
        problem(sprintf("%d report(s) about the modules under test (%s)%s; the first:\n%s", nours, modules,
            baseline != "" ? ", not among the kernel's own" : "", first))
    printf "%d report(s) of the kernel's own%s\n", nown, nown ? ":" : ""
    for (i = 1; i <= nkinds; i++)
        printf "    %dx %s\n", seen[kinds[i]], kinds[i]
    exit status
}
