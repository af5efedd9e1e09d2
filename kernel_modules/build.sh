#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds one module folder out of tree against one kernel, warnings as
# errors. The sources are copied into a work folder, so the source tree stays
# clean.
#   build.sh <kernel> <module source folder> <work folder> <output .ko>
# <kernel> is a folder that scripts/kernels.sh filled (the build then runs in
# the kernel's build root when it has one, by the compiler that built the
# kernel), or a headers tree such as /lib/modules/$(uname -r)/build.
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: build.sh <kernel> <source folder> <work folder> <output .ko>" >&2; exit 1; }
kernel=$1 src=$2 work=$3 out=$4
here=$(cd "$(dirname "$0")" && pwd)
if [ -f "$kernel/unavailable" ]; then
    echo "build.sh: warning: $(basename "$out") not built for $(cat "$kernel/release"): $(cat "$kernel/unavailable")" >&2
    rm -f "$out"
    exit 0
fi
kdir=$kernel
[ ! -d "$kernel/kdir" ] || kdir=$(readlink -f "$kernel/kdir")
run=()
if [ -e "$kernel/buildroot" ]; then
    # Inside the root the headers sit at their own path; the work folder is
    # made there too.
    root=$(readlink -f "$kernel/buildroot")
    kdir=${kdir#"$root"}
    mkdir -p "$root/tmp/qvx"
    work=$(mktemp -d "$root/tmp/qvx/build.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    run=("$here/../scripts/buildroot.sh" run "$root")
fi
rm -rf "$work"
mkdir -p "$work"
cp "$src/Kbuild" "$src"/*.[ch] "$work/"
inside=$(cd "$work" && pwd)
inside=${inside#"${root:-}"}
# Without the kernel's vmlinux, 5.10's and 6.1's kbuild say they skip BTF:
# expected here.
"${run[@]}" make -s -C "$kdir" M="$inside" KCFLAGS=-Werror modules \
    2> >(grep -v '^Skipping BTF generation' >&2)
cp "$work/$(basename "$out")" "$out"
