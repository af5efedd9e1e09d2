#!/usr/bin/env bash
# Installs the Debian packages that building, testing and demonstrating the
# project needs, when any is missing. Needs root (or sudo) only then.
set -euo pipefail

packages=(
    cmake ninja-build g++ gcc make pkg-config          # build
    libgtest-dev libgmock-dev libbenchmark-dev         # tests and benchmarks
    strace util-linux                                  # program tests
    qemu-system-x86 busybox-static cpio ca-certificates # kernel tests in a VM
    mmdebstrap uidmap                                  # build roots for other kernels' compilers
    groff-base mandoc clang-format git                 # manual pages, lint
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
