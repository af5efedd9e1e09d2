#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds one module folder out of tree against one kernel, warnings as
# errors, under the kernel's own static checkers: its further warnings (W=1)
# and sparse (C=1), any warning of which fails the build too. The sources are
# copied into a work folder, so the source tree stays clean; what the build
# said lands beside the module as <module>.log.
#   build.sh <kernel> <module source folder> <work folder> <output .ko>
# The build calls it, once per module and kernel (kernel_modules/CMakeLists.txt).
# <kernel> is a folder that kernels.sh or debug-kernel.sh filled (the build then runs in
# the kernel's build root when it has one, by the compiler that built the
# kernel), or a headers tree such as /lib/modules/$(uname -r)/build.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../shell/common.sh"
. "$here/kernel_env.sh"
[ $# -eq 4 ] || die "usage: build.sh <kernel> <source folder> <work folder> <output .ko>"
kernel=$1 src=$2 work=$3 out=$4
mkdir -p "$(dirname "$out")"
# Why the module cannot be built here: said, and kept beside where it would
# be for the tests to report; the build goes on without it.
unavailable() {
    echo "build.sh: warning: $(basename "$out") not built for $(cat "$kernel/release"): $1" >&2
    echo "$1" >"$(dirname "$out")/unavailable"
    rm -f "$out"
    exit 0
}
# An error is not a kernel the module cannot be built for: it fails the build.
# shellcheck disable=SC2310 # kernel_env stops at its first failure by itself
kernel_env "$kernel" || die "could not find how to build against $kernel (the error above)"
# shellcheck disable=SC2154 # kernel_env set why
[ -z "$why" ] || unavailable "$why"
if [ -n "$root" ]; then
    # The work folder is made inside the root, where the build sees it.
    work=$(kernel_tmp)
    trap 'rm -rf "$work"' EXIT
    # A root made before it held sparse is made again (kernels.sh knows what
    # a root holds; it waits for a build of another's that has it locked).
    [ -x "$root/usr/bin/sparse" ] || "$here/kernels.sh" "$(basename "$kernel")" "$(dirname "$kernel")" >&2
    [ -x "$root/usr/bin/sparse" ] || die "the build root $root has no sparse, and kernels.sh did not make it again"
else
    command -v sparse >/dev/null || die "sparse is missing: run scripts/setup.sh (Debian package sparse)"
fi
rm -f "$(dirname "$out")/unavailable"
rm -rf "$work"
mkdir -p "$work"
cp "$src/Kbuild" "$src"/*.[ch] "$work/"
inside=$(cd "$work" && pwd)
inside=${inside#"${root:-}"}
# riscv64's gcc needs the extensions zicsr and zifencei spelt out in -march
# (the kernel's make then names them, as this option says), which Debian
# 13's sparse 0.6.4 refuses ("invalid argument to '-march':
# '_zicsr_zifencei'"), so that it checks nothing: it gets the -march without
# them, which define nothing the kernel's headers or ours test.
check=()
# shellcheck disable=SC2154 # kernel_env set kdir (and root: "" without one)
if grep -qx CONFIG_TOOLCHAIN_NEEDS_EXPLICIT_ZICSR_ZIFENCEI=y "$root$kdir/.config"; then
    # shellcheck disable=SC2016 # for the script, which expands them
    printf '%s\n' 'for a; do shift; case $a in -march=*_zicsr_zifencei) a=${a%_zicsr_zifencei} ;; esac' \
        'set -- "$@" "$a"; done; exec sparse "$@"' >"$work/sparse-march.sh"
    check=(CHECK="sh $inside/sparse-march.sh")
fi
# Under make, the kernel's make shares its job slots when they were handed
# down; otherwise (a rule not marked recursive) it runs alone rather than
# warn that the job server is unavailable.
if [[ ${MAKEFLAGS:-} =~ --jobserver-auth=([0-9]+),([0-9]+) ]] &&
    ! { : <&"${BASH_REMATCH[1]}" && : >&"${BASH_REMATCH[2]}"; } 2>/dev/null; then
    MAKEFLAGS=$(echo " $MAKEFLAGS" | sed -E 's/ --jobserver-(auth|fds)=[^ ]*//g; s/ -j[0-9]*( |$)/ /g')
fi
# Sparse only warns, and make goes on: what the build says (its standard
# error) is read, and anything in it but what is expected fails the build.
# Expected: without the kernel's vmlinux, 5.10's and 6.1's kbuild say they
# skip BTF.
log=${out%.ko}.log status=0
# shellcheck disable=SC2154 # kernel_env set them
"${run[@]}" make -s -C "$kdir" M="$inside" C=1 W=1 KCFLAGS=-Werror "${cross[@]}" "${check[@]}" modules 2>"$log" || status=$?
said=$(grep -v '^Skipping BTF generation' "$log" || true)
[ -z "$said" ] || echo "$said" >&2
name=$(basename "$out") release=$(cat "$kernel/release" 2>/dev/null || basename "$kernel")
[ "$status" -eq 0 ] || die "$name for $release: the build failed (make's status $status; its output above, and in $log)"
[ -z "$said" ] || die "$name for $release: the kernel's checkers or its make said the above (in $log too): W=1 and sparse (C=1) must be silent"
cp "$work/$name" "$out"
