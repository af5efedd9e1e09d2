#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Small Debian roots to build in with another release's compiler, made with
# mmdebstrap and entered with chroot: as root directly, as an ordinary user
# through a user namespace, so that nothing here needs privilege. The root's
# files belong to whoever made it, who can also remove it.
#
#   buildroot.sh check                          says why no root can be made or
#                                               entered here; silent when one can
#   buildroot.sh make <dir> <suite> <package>... a <suite> root with <package>s in <dir>
#   buildroot.sh run <dir> <command>...         runs <command> in the root
#
# make logs mmdebstrap's progress to standard error.
set -euo pipefail
# chroot is in /usr/sbin, which Debian leaves out of an ordinary user's PATH.
PATH=$PATH:/usr/sbin:/sbin
here=$(cd "$(dirname "$0")" && pwd)
die() { echo "buildroot.sh: $*" >&2; exit 1; }

check() {
    command -v mmdebstrap >/dev/null || { echo "mmdebstrap is missing: run scripts/setup.sh"; return; }
    if [ "$(id -u)" -eq 0 ]; then
        chroot / true 2>/dev/null || { echo "chroot is not permitted here"; return; }
        unshare -m true 2>/dev/null && return
        local probe
        probe=$(mktemp -d)
        if mount -t proc proc "$probe" 2>/dev/null; then
            umount "$probe"
        else
            echo "neither a mount namespace of its own nor mount is permitted here, and the root needs /proc"
        fi
        rmdir "$probe"
        return
    fi
    command -v newuidmap >/dev/null || { echo "newuidmap is missing: run scripts/setup.sh (Debian package uidmap)"; return; }
    grep -q "^$(id -un):" /etc/subuid 2>/dev/null ||
        { echo "user $(id -un) has no subordinate user IDs in /etc/subuid, which mmdebstrap needs"; return; }
    unshare -rm true 2>/dev/null || echo "user namespaces are not available here (as in a chroot or most containers)"
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
run)
    [ $# -ge 3 ] || die "usage: buildroot.sh run <dir> <command>..."
    dir=$(cd "$2" && pwd)
    shift 2
    env=(/usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C)
    if [ "$(id -u)" -eq 0 ] && ! unshare -m true 2>/dev/null; then
        # Root where no mount namespace can be had (a plain chroot): the
        # root's /proc is mounted for this run only.
        mount -t proc proc "$dir/proc"
        trap 'umount "$dir/proc"' EXIT
        chroot "$dir" "${env[@]}" "$@"
        exit
    fi
    # A mount namespace of its own (and a user namespace for an ordinary
    # user) lends the root this machine's /proc and, where it has no device
    # node of its own, /dev/null.
    ns=(unshare -m)
    [ "$(id -u)" -eq 0 ] || ns=(unshare -rm)
    exec "${ns[@]}" sh -c '{ [ -c "$0/dev/null" ] || mount --bind /dev/null "$0/dev/null"; } &&
        mount --rbind /proc "$0/proc" && exec chroot "$0" "$@"' "$dir" "${env[@]}" "$@"
    ;;
*)
    die "usage: buildroot.sh check | make <dir> <suite> <package>... | run <dir> <command>..."
    ;;
esac
