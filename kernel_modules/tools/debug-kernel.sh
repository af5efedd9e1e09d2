#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds a small x86-64 kernel with some of the kernel's own checkers from
# Debian's Linux 6.1 source (package linux-source-6.1), for loading the
# modules under test into it under qemu: tinyconfig, then the config
# fragments, then olddefconfig. Every option the fragments ask for must be in
# the final .config, or the build stops.
#
#   debug-kernel.sh <kernel folder> <fragment>...
#
# The build calls it (kernel_modules/tools/debug/kernels.cmake) with
# -DDEBUG_KERNELS=ON. Leaves in <kernel folder>, like kernels.sh does for
# Debian's own:
#   vmlinuz   the kernel image
#   kdir      the built source tree (make -C kdir M=... modules)
#   release   the kernel release
#   compiler  the compiler that built it (this machine's gcc)
#   .complete a key of the fragments and the source it was built from
# Runs again only when that key changes; concurrent runs wait for each other.
# JOBS sets make's parallel jobs (default 2).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../shell/common.sh"
[ $# -ge 2 ] || die "usage: debug-kernel.sh <kernel folder> <config fragment>..."
mkdir -p "$1"
dir=$(cd "$1" && pwd)
shift
fragments=()
for f; do
    [ -f "$f" ] || die "no config fragment $f"
    fragments+=("$(cd "$(dirname "$f")" && pwd)/$(basename "$f")")
done
tarball=/usr/src/linux-source-6.1.tar.xz
[ -f $tarball ] || die "$tarball is missing: run scripts/setup.sh (Debian package linux-source-6.1)"
for tool in make gcc flex bison bc xz; do
    command -v $tool >/dev/null || die "$tool is missing: run scripts/setup.sh"
done
[ -f /usr/include/gelf.h ] || die "libelf's headers are missing: run scripts/setup.sh (Debian package libelf-dev)"

# Its own -j, not the job server of an outer make, which is not handed down.
unset MAKEFLAGS MFLAGS MAKELEVEL
name=$(basename "$dir")
# Another build's making of it is waited for: 5 minutes on two quiet cores,
# several times that beside other builds.
cache_lock "$dir" 2400 "kernel $name, which another build is making"
key=$({ cat "${fragments[@]}"; stat -c '%s %Y' $tarball; } | sha256sum | cut -c1-16)
if cache_complete "$dir" "$key"; then
    echo "kernel $name: $(cat "$dir/release") already in $dir"
    cache_stamp "$dir" "$key"
    exit 0
fi

src=$dir/src
log=$dir/build.log
start=$SECONDS
: >"$log"
# step <what> <details> <command>...: the command's output goes to the log,
# and a line every 10 s says how it goes. The command runs on the left of
# || where set -e does not hold: each function given stops at its first
# failure by itself.
step() {
    echo "kernel $name: $1$2"
    local what=$1
    shift 2
    "$@" 2>&1 | progress -l "$log" "kernel $name: $what" || die_with_log "$log" "'$*' failed"
}
unpack() {
    cache_unstamp "$dir" && rm -rf "$src" && mkdir -p "$src" &&
        tar -xf $tarball -C "$src" --strip-components=1
}
configure() {
    make -C "$src" ARCH=x86_64 tinyconfig &&
        "$src/scripts/kconfig/merge_config.sh" -m -O "$src" "$src/.config" "${fragments[@]}" &&
        make -C "$src" olddefconfig
}
# Building modules needs the headers, the build scripts and tools, the
# configuration and Module.symvers; vmlinux and System.map stay for reading
# reports. Sources, objects and other architectures go: 1.6 GB becomes less
# than 200 MB. Nothing is removed unless the tree is where it runs.
trim() {
    cd "$src" || return
    find arch -mindepth 1 -maxdepth 1 -type d ! -name x86 -exec rm -rf {} + &&
        find . \( -name '*.[coa]' -o -name '*.cmd' \) ! -path './scripts/*' ! -path './tools/*' -delete &&
        find drivers sound net fs -name '*.h' -delete &&
        find tools -type f ! -path tools/objtool/objtool -delete &&
        rm -rf Documentation .tmp_vmlinux*
}

step "unpacking $tarball" " (about 20 s, after removing an earlier build's tree)" unpack
step "configuring" " (tinyconfig, then ${fragments[*]##*/})" configure
missing=$(grep -h -E '^(CONFIG_|# CONFIG_.* is not set$)' "${fragments[@]}" | grep -vxF -f "$src/.config" || true)
[ -z "$missing" ] || die "the kernel configuration refused:"$'\n'"$missing"
checker=${name#debug-}
# modules runs modpost over vmlinux, which writes the Module.symvers that
# out-of-tree modules link against.
step "building the ${checker^^} debug kernel" " (about 5 minutes on 2 cores; make -j${JOBS:-2}, log in $log)" \
    make -C "$src" -j"${JOBS:-2}" bzImage modules
make -s -C "$src" kernelrelease >"$dir/release"
sed -n 's/^CONFIG_CC_VERSION_TEXT="\(.*\)"$/\1/p' "$src/.config" >"$dir/compiler"
step "trimming the tree to what building modules needs" "" trim
ln -sfn src/arch/x86/boot/bzImage "$dir/vmlinuz"
ln -sfn src "$dir/kdir"
cache_stamp "$dir" "$key"
echo "kernel $name: $(cat "$dir/release") ready in $dir ($((SECONDS - start)) s)"
