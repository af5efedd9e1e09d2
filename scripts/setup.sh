#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages that building, testing and demonstrating the
# project needs, when any is missing. Needs root (or sudo) only then: once
# root has run it, everything else runs as an ordinary user. One line per
# step on the screen, and while a step is at work apt's latest line at least
# every 10 s; apt's own output goes to build/setup.log.
set -euo pipefail
cd "$(dirname "$0")/.."
. shell/common.sh

packages=(
    cmake ninja-build g++ gcc make pkg-config          # build
    clang clang-19                                     # the headers compiled as users may (Debian 12's clang, and 13's)
    libgtest-dev libgmock-dev googletest               # unit tests (googletest: its sources, for cross builds)
    strace util-linux                                  # program tests
    qemu-system-x86 busybox-static cpio ca-certificates # kernel tests in a VM
    qemu-user-static file                              # other architectures' user-space tests emulated; their binaries' machines
    mmdebstrap uidmap                                  # build roots for other kernels' compilers
    mount proot                                        # entering them (proot: where mounting is refused)
    e2fsprogs                                          # the booted Debian 13's disk, made without privilege
    gcc-12-multilib g++-12-multilib                    # qvx_device.h checked under -m32 (not the
                                                       # unversioned gcc-multilib: it conflicts with cross compilers)
    sparse                                             # the kernel's checker, on every module build
    build-essential dpkg-dev debhelper dh-dkms lintian # Debian packages (scripts/package.sh)
    autopkgtest autodep8 diffoscope-minimal blhc      # their autopkgtests, rebuilds and build log
    apt-utils gpg                                      # their apt repository (scripts/repo.sh)
    linux-source-6.1 flex bison libelf-dev bc          # debug kernels for the VM
    groff-base mandoc man-db clang-format shellcheck git # manual pages (man finds them), lint
    libglib2.0-dev gnuplot-nox                         # the benchmark's peer and its plot (no deliverable)
)
# Each other architecture of the table: its cross compilers, and the qemu
# that boots its kernels when it has any (with the firmware it needs).
. kernel_modules/tools/arches.sh
host=$(dpkg --print-architecture)
for arch in $(arch_names); do
    [ "$arch" = "$host" ] || packages+=("g++-12-$(arch_field "$arch" triplet)")
    # shellcheck disable=SC2310 # arch_field is one awk after a setting that cannot fail
    if [ "$(arch_field "$arch" series)" != - ]; then
        read -ra more <<<"$(arch_field "$arch" package)"
        packages+=("${more[@]}")
    fi
done

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || die "missing ${missing[*]}: run scripts/setup.sh as root once"
    sudo=sudo
fi
log=build/setup.log
mkdir -p build
: >"$log"
# What set-up makes in the tree stays the tree's owner's, however root ran
# it (sudo, su, a root shell): else the user's build cannot write in build/.
[ "$(id -u)" -ne 0 ] || chown "$(stat -c %u:%g .)" build "$log"
echo "setup: ${#missing[@]} of ${#packages[@]} packages to install: ${missing[*]} (apt's output: $log)"

# step <what> <command...>: runs it with its output in the log, saying what
# it does while it is at work, and sets `took`; when it fails, shows the end
# of the log and stops.
step() {
    local start=$SECONDS what=$1
    shift
    echo "== $*" >>"$log"
    # shellcheck disable=SC2310 # progress ends at its first failed write by itself
    "$@" 2>&1 </dev/null | progress -l "$log" "setup: $what" || LOG_TAIL=25 die_with_log "$log" "failed: $*"
    took=$((SECONDS - start))
}
installed() { dpkg-query -W -f='${db:Status-Abbrev}\n' | grep -c '^ii'; }

step "reading Debian's package lists" $sudo apt-get update
echo "setup: read Debian's package lists ($took s)"
before=$(installed)
step "installing" $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
echo "setup: installed ${#missing[@]} package(s) and $(($(installed) - before - ${#missing[@]})) more they need ($took s)"
