# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Where and how a build runs against a kernel: on this machine, or in the
# kernel's build root (buildroot.sh) when kernels.sh made one because the
# kernel's compiler is not this machine's. Sourced by build.sh, which builds
# the modules, and by the package test, which runs qvx-dkms's dkms.conf.
#
#   kernel_env <kernel>   sets
#     kdir   the headers tree, at its path as the build sees it
#     root   the kernel's build root, "" when it has none
#     run    the words that run a command there (none without a root)
#     cross  CROSS_COMPILE=<prefix> for another architecture's kernel (its
#            headers' own make files then choose that compiler and the
#            architecture), else nothing; an array, a make or env argument
#   <kernel> is a folder that kernels.sh or debug-kernel.sh filled, or a
#   headers tree such as /lib/modules/$(uname -r)/build. When nothing can be
#   built against it here, sets why to the reason (else ""), and returns 0:
#   a status other than 0 is an error, which the caller reports as one.
#   kernel_tmp            a fresh folder in the root's /tmp/qvx, its path
#                         here; the build sees it at ${folder#"$root"}
kernel_env_tools=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# shellcheck disable=SC2034 # the variables are the caller's
kernel_env() {
    local kernel=$1 prefix
    kdir=$kernel root='' run=() cross=() why=''
    if [ -f "$kernel/unavailable" ]; then
        why=$(cat "$kernel/unavailable") || return
        [ -n "$why" ] || why="$kernel/unavailable gives no reason"
        return 0
    fi
    [ ! -d "$kernel/kdir" ] || kdir=$(readlink -f "$kernel/kdir") || return
    [ ! -f "$kernel/cross" ] || { prefix=$(cat "$kernel/cross") && cross=(CROSS_COMPILE="$prefix"); } || return
    [ -e "$kernel/buildroot" ] || return 0
    # Inside the root the headers sit at their own path.
    root=$(readlink -f "$kernel/buildroot") || return
    why=$("$kernel_env_tools/buildroot.sh" enter "$root") || return
    [ -z "$why" ] || return 0
    kdir=${kdir#"$root"}
    run=("$kernel_env_tools/buildroot.sh" run "$root")
}

kernel_tmp() {
    mkdir -p "$root/tmp/qvx" && mktemp -d "$root/tmp/qvx/build.XXXXXX"
}
