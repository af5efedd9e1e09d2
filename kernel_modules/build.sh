#!/usr/bin/env bash
# Builds one module folder out of tree against one kernel: the sources are
# copied into a work folder, so the source tree stays clean, and warnings are
# errors.
#   build.sh <kernel> <module source folder> <work folder> <output .ko>
# <kernel> is a folder that scripts/kernels.sh filled, or a headers tree
# such as /lib/modules/$(uname -r)/build.
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: build.sh <kernel> <source folder> <work folder> <output .ko>" >&2; exit 1; }
kernel=$1 src=$2 work=$3 out=$4
make_args=()
if [ -d "$kernel/kdir" ]; then
    kdir=$kernel/kdir
    read -r -a make_args <"$kernel/make.env" || true
else
    kdir=$kernel
fi
rm -rf "$work"
mkdir -p "$work"
cp "$src/Kbuild" "$src"/*.[ch] "$work/"
# Without the kernel's vmlinux, 6.1's kbuild says it skips BTF: expected here.
make -s -C "$kdir" M="$(cd "$work" && pwd)" KCFLAGS=-Werror "${make_args[@]}" modules \
    2> >(grep -v '^Skipping BTF generation' >&2)
cp "$work/$(basename "$out")" "$out"
