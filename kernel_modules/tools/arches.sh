# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# The architectures, read from their table (cmake/arches.table, a row each).
# Sourced by kernels.sh, which fetches a series' kernel for one of them, by
# tests/kernel_modules/vm.sh, which boots it, and by the package tests. A
# kernel folder of another architecture than this machine's is named
# <series>-<arch> and names it in its file "arch".
#
#   arch_names                  the table's architectures, one a line, in order
#   arch_of <kernel folder>     the folder's architecture (amd64 without "arch")
#   arch_field <arch> <field>   one field of the architecture's row; fails
#                               for an architecture without a row
# Fields: those of the table (- for none), and two that follow from the
# triplet, - for this machine's own architecture:
#   cross    the prefix of the cross compilers that build its modules here
#            (the kernel's make takes it as CROSS_COMPILE)
#   libs     the root of its libraries, for dynamically linked programs
#            taken into a VM (- : this machine's, in /lib/<triplet>)
arch_table_file=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../cmake" && pwd)/arches.table

arch_names() {
    awk -F'|' '!/^#/ && NF > 1 && n++ { gsub(/ /, "", $1); print $1 }' "$arch_table_file"
}

arch_of() {
    if [ -f "$1/arch" ]; then cat "$1/arch"; else echo amd64; fi
}

arch_field() {
    local host
    host=$(dpkg --print-architecture 2>/dev/null || echo amd64)
    awk -F'|' -v arch="$1" -v field="$2" -v host="$host" '
        function trim(s) { gsub(/^ +| +$/, "", s); return s }
        /^#/ || NF < 2 { next }
        !names { for (i = 1; i <= NF; i++) column[trim($i)] = i; names = 1; next }
        trim($1) != arch { next }
        field == "cross" || field == "libs" {
            triplet = trim($(column["triplet"]))
            print arch == host ? "-" : field == "cross" ? triplet "-" : "/usr/" triplet
            found = 1; next
        }
        column[field] { print trim($(column[field])); found = 1 }
        END { exit !found }' "$arch_table_file"
}
