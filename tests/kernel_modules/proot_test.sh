#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The way into a build root that a container without mount rights needs,
# taken whatever this machine allows: both modules built for one series
# through proot, with proot-shim.c preloaded (BUILDROOT_WAY=proot), must be
# those the build made the usual way: the same code and module information
# (the kernel they are for among it).
#   proot_test.sh <kernel folder> <folder of the modules built the usual way>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tools=$here/../../kernel_modules/tools
. "$here/../checks.sh"
[ $# -eq 2 ] || { echo "usage: proot_test.sh <kernel folder> <modules folder>" >&2; exit 1; }
kernel=$1 built=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ ! -f "$built/unavailable" ] || { echo "SKIP: no build root here: $(cat "$built/unavailable")"; exit 77; }
[ -e "$kernel/buildroot" ] || { echo "$kernel has no build root: its modules are built without one" >&2; exit 1; }
why=$(BUILDROOT_WAY=proot "$tools/buildroot.sh" enter "$(readlink -f "$kernel/buildroot")")
[ -z "$why" ] || { echo "SKIP: $why"; exit 77; }

section() { objcopy -O binary --only-section="$2" "$1" "$work/section" && sha256sum <"$work/section"; }
start=$SECONDS
for module in kthreads/turnpair qvx_device/qvx_device; do
    name=${module#*/} folder=${module%/*}
    BUILDROOT_WAY=proot "$tools/build.sh" "$kernel" "$here/../../kernel_modules/$folder" "$work/$folder" \
        "$work/$name.ko" || { fail "$name.ko could not be built through proot"; continue; }
    for s in .text .modinfo; do
        same "$name.ko's $s built through proot" "$(section "$work/$name.ko" $s)" "$(section "$built/$name.ko" $s)"
    done
done
finish "both modules built through proot for $(cat "$kernel/release") in $((SECONDS - start)) s, as the build made them"
