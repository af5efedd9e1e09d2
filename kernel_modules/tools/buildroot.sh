#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Small Debian roots to build in with another release's compiler, made with
# mmdebstrap and entered without privilege: as root with chroot in a mount
# namespace of its own, as an ordinary user the same way through a user
# namespace; where neither namespace is allowed (a container without
# CAP_SYS_ADMIN, a chroot), root mounts the root's /proc for the run, and
# failing that proot (a chroot done with ptrace) enters it. The way is
# chosen each time a root is entered, so a root made elsewhere works here
# too; BUILDROOT_WAY=proot takes proot wherever it works, so that the way a
# container needs is tried on any machine. The root's files belong to
# whoever made it, who can also remove it.
#
#   buildroot.sh check                          says why no root can be made or
#                                               entered here; silent when one can
#   buildroot.sh enter <dir>                    says why <dir> cannot be entered
#                                               here; silent when it can
#   buildroot.sh make <dir> <suite> <package>... a <suite> root with <package>s in <dir>
#   buildroot.sh run <dir> <command>...         runs <command> in the root
#
# make logs mmdebstrap's progress to standard error. Called by kernels.sh
# and build.sh, for the kernels' compilers, and by the package test.
set -euo pipefail
# chroot is in /usr/sbin, which Debian leaves out of an ordinary user's PATH.
PATH=$PATH:/usr/sbin:/sbin
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../shell/common.sh"

check() {
    command -v mmdebstrap >/dev/null || { echo "mmdebstrap is missing: run scripts/setup.sh"; return; }
    if [ "$(id -u)" -eq 0 ]; then
        # mmdebstrap's root mode runs the packages' scripts with chroot.
        chroot / true 2>/dev/null || { echo "chroot is not permitted here"; return; }
    else
        command -v newuidmap >/dev/null ||
            { echo "newuidmap is missing: run scripts/setup.sh (Debian package uidmap)"; return; }
        grep -q "^$(id -un):" /etc/subuid 2>/dev/null ||
            { echo "user $(id -un) has no subordinate user IDs in /etc/subuid, which mmdebstrap needs"; return; }
        unshare -rm true 2>/dev/null ||
            { echo "user namespaces, which mmdebstrap needs, are not available here (as in a chroot or most containers)"; return; }
    fi
    local how
    # shellcheck disable=SC2310 # way is a test, which says why it fails
    how=$(way /) || echo "$how"
}

# way <dir>: how <dir> can be entered here, tried in this order: ns (a mount
# namespace of its own, with a user namespace for an ordinary user), mount
# (root mounts the root's /proc for the run), proot; with BUILDROOT_WAY=proot
# proot alone. When none works, the reason goes to standard output and the
# status is 1.
way() {
    local dir=$1 why
    # shellcheck disable=SC2310 # mounting is a test, which says why it fails
    case ${BUILDROOT_WAY:-} in
    "") why=$(mounting "$dir") && echo "$why" && return ;;
    proot) why="proot was asked for (BUILDROOT_WAY=proot)" ;;
    *) echo "BUILDROOT_WAY=$BUILDROOT_WAY: only proot can be asked for" && return 1 ;;
    esac
    if ! command -v proot >/dev/null; then
        echo "$why, and proot is missing: run scripts/setup.sh"
        return 1
    fi
    local out
    if ! out=$(proot -r "$dir" -b /proc -b /dev -w / /bin/sh -c 'echo ok' 2>&1) || [ "$out" != ok ]; then
        echo "$why, and proot fails here: $(echo "$out" | sed -n 1p)"
        return 1
    fi
    echo proot
}

# mounting <dir>: ns or mount, as for way, when either works here; else the
# reason, and status 1.
mounting() {
    local ns=(unshare -m) probe
    [ "$(id -u)" -eq 0 ] || ns=(unshare -rm)
    if "${ns[@]}" mount --rbind /proc "$1/proc" 2>/dev/null; then
        echo ns
        return
    fi
    if [ "$(id -u)" -ne 0 ]; then
        echo "user namespaces are not available here (as in a chroot or most containers)"
        return 1
    fi
    probe=$(mktemp -d)
    if mount -t proc proc "$probe" 2>/dev/null; then
        umount "$probe" && rmdir "$probe" && echo mount
        return
    fi
    rmdir "$probe" || return
    echo "neither a mount namespace of its own nor mount is permitted here"
    return 1
}
case ${1:-} in
check)
    check
    ;;
make)
    [ $# -ge 3 ] || die "usage: buildroot.sh make <dir> <suite> <package>..."
    dir=$2 suite=$3
    shift 3
    why=$(check)
    [ -z "$why" ] || die "cannot make a build root here: $why"
    . "$here/debian.sh"
    mapfile -t sources < <(debian_sources "$suite")
    [ ${#sources[@]} -gt 0 ] || exit 1
    mode=unshare
    [ "$(id -u)" -ne 0 ] || mode=root
    rm -rf "$dir"
    mkdir -p "$dir"
    # Made as a tar stream and unpacked by its user, so that the files are
    # theirs; device nodes cannot be made without privilege: /dev/null alone
    # is needed, and run puts it in place. /dev/fd serves the shell's <(...),
    # which dkms uses.
    packages=$(IFS=,; echo "$*")
    mmdebstrap --mode=$mode --variant=apt --skip=chroot/mount --include="$packages" \
        --aptopt='Acquire::Check-Valid-Until "false"' "$suite" - "${sources[@]}" |
        tar -x -C "$dir" --exclude='./dev/*'
    [ "${PIPESTATUS[0]}" -eq 0 ] || die "mmdebstrap could not make a $suite root"
    mknod -m 666 "$dir/dev/null" c 1 3 2>/dev/null || touch "$dir/dev/null"
    ln -s /proc/self/fd "$dir/dev/fd"
    ;;
enter)
    [ $# -eq 2 ] || die "usage: buildroot.sh enter <dir>"
    # shellcheck disable=SC2310 # way is a test, which says why it fails
    how=$(way "$2") || echo "$how"
    ;;
run)
    [ $# -ge 3 ] || die "usage: buildroot.sh run <dir> <command>..."
    dir=$(cd "$2" && pwd)
    shift 2
    env=(/usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C)
    # shellcheck disable=SC2310 # way is a test, which says why it fails
    how=$(way "$dir") || die "cannot enter the root $dir: $how"
    case $how in
    ns)
        # A mount namespace of its own (and a user namespace for an ordinary
        # user) lends the root this machine's /proc and, where it has no
        # device node of its own, /dev/null.
        ns=(unshare -m)
        [ "$(id -u)" -eq 0 ] || ns=(unshare -rm)
        exec "${ns[@]}" sh -c '{ [ -c "$0/dev/null" ] || mount --bind /dev/null "$0/dev/null"; } &&
            mount --rbind /proc "$0/proc" && exec chroot "$0" "$@"' "$dir" "${env[@]}" "$@"
        ;;
    mount)
        # Root where no mount namespace can be had (a plain chroot): the
        # root's /proc is mounted for this run only.
        mount -t proc proc "$dir/proc"
        trap 'umount "$dir/proc"' EXIT
        chroot "$dir" "${env[@]}" "$@"
        ;;
    proot)
        # Where nothing may be mounted (a container without CAP_SYS_ADMIN):
        # proot lends the root /proc and /dev; an ordinary user appears as
        # root inside, as in a user namespace. proot-shim.c, preloaded,
        # keeps the root's programs to what this proot can follow.
        fake=()
        [ "$(id -u)" -eq 0 ] || fake=(-0)
        shim=$(mktemp -d)
        trap 'rm -rf "$shim"' EXIT
        ${CC:-cc} -shared -fPIC -O2 -Wall -Wextra -Werror -o "$shim/proot-shim.so" "$here/proot-shim.c" ||
            die "cannot build $here/proot-shim.c, which proot needs"
        proot "${fake[@]}" -r "$dir" -b /proc -b /dev -b "$shim/proot-shim.so:/.qvx-proot-shim.so" -w / \
            "${env[@]}" LD_PRELOAD=/.qvx-proot-shim.so "$@"
        ;;
    esac
    ;;
*)
    die "usage: buildroot.sh check | enter <dir> | make <dir> <suite> <package>... | run <dir> <command>..."
    ;;
esac
