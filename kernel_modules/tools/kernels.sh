#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Fetches Debian's kernels with their headers into a cache, for building the
# kernel modules against them and booting them under qemu. The
# archive is the one this machine's apt configuration names; the machine's
# apt setup is left alone (a private configuration lives beside the cache).
#
#   kernels.sh <series>... [cache]   fetch each series unless cached, several
#                                    at once, a line per step
#   kernels.sh --refresh [cache]     fetch again every cached series whose
#                                    Debian kernel has changed
# The build calls it (kernel_modules/CMakeLists.txt); a person, for --refresh.
#
# Series: 5.10 (Debian 11), 6.1 (Debian 12), 6.12 (Debian 13) and unstable
# (whatever Debian unstable ships at fetch time), for x86-64; <series>-<arch>
# is the series' kernel for another architecture of arches.sh (6.1-arm64),
# built by a cross compiler. The cache is $KERNEL_CACHE, else
# ${XDG_CACHE_HOME:-$HOME/.cache}/qvx/kernels. Each series gets a folder:
#   vmlinuz    the kernel image (an ELF vmlinux where Debian ships that)
#   arch       its architecture (arches.sh)
#   cross      for another architecture than x86-64, the prefix of the cross
#              compiler that builds its modules (the make's CROSS_COMPILE)
#   busybox    for another architecture, Debian's static busybox of it
#   dtb        for armel, the device tree its VM boots with
#   release    the kernel release, e.g. 6.12.118+deb13-amd64
#   compiler   the compiler that built the kernel (CONFIG_CC_VERSION_TEXT)
#   kdir       the headers tree to build modules against
#   buildroot  present when that compiler is not this machine's: a root of
#              the kernel's own Debian release holding it and the headers;
#              kdir's path is then the same inside the root
#   root-packages  with a root, the packages it was made with beside the
#              compiler: when root_packages (below) names others, the root
#              alone is made again
#   debs/      the headers packages, for installing them elsewhere
#   unavailable  present, with the reason, when no build root can be made here
# Concurrent runs wait for each other; a finished folder is reused.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../shell/common.sh"
. "$here/debian.sh"
. "$here/arches.sh"

# What a build root holds beside the kernel's compiler: what the kernel's
# make files run, and sparse, which build.sh runs on every module build.
root_packages="make libc6-dev dwarves bc kmod sparse"

# suite_of <series>[-<arch>]: the Debian release whose kernel it is.
suite_of() {
    [[ $1 != *-* ]] || arch_field "${1#*-}" qemu >/dev/null ||
        die "unknown architecture in '$1' (arches.sh has none such)"
    case ${1%-*} in
    5.10) echo bullseye ;;
    6.1) echo bookworm ;;
    6.12) echo trixie ;;
    unstable) echo sid ;;
    *) die "unknown kernel series '$1' (known: 5.10, 6.1, 6.12, unstable, each with -<arch> for another architecture)" ;;
    esac
}

# arch_in <series>[-<arch>]: the architecture, amd64 when none is named.
arch_in() {
    if [[ $1 == *-* ]]; then echo "${1#*-}"; else echo amd64; fi
}

# current_release <apt folder> <arch>: the release that the series'
# linux-image-<flavour> points to (the flavour is the architecture's row's).
current_release() {
    local flavour
    flavour=$(arch_field "$2" flavour) || return
    with_apt "$1" apt-cache depends "linux-image-$flavour" |
        sed -n "s/^ *Depends: linux-image-\([0-9][^ ]*-$flavour\)\$/\1/p" | sed -n 1p
}

# compiler_of <version text>: the compiler and its upstream version, e.g.
# "gcc 12.2.0", from a CONFIG_CC_VERSION_TEXT or the first line of its
# --version: "s390x-linux-gnu-gcc-12 (Debian 12.2.0-14) 12.2.0", "Debian clang
# version 19.1.7 (3)". Debian's revision (-14, +deb12u1) is left out: the
# same upstream compiler makes the same modules. A text of neither shape is
# given back whole.
compiler_of() {
    awk '{
        for (i = 1; i < NF; i++)
            if ($i == "clang" && $(i + 1) == "version") {
                v = $(i + 2); sub(/[-+~].*/, "", v); print "clang", v; exit
            }
        if ($1 ~ /(^|-)gcc(-[0-9.]+)?$/) {
            rest = $0; sub(/^[^ ]+ /, "", rest); sub(/^\([^)]*\) /, "", rest)
            # A snapshot, 14.0.1 20240411: the date is part of the version.
            split(rest, w, " ")
            print "gcc", w[1] (w[2] ~ /^[0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9]$/ ? " " w[2] : ""); exit
        }
        print; exit
    }' <<<"$1"
}

# depends_of <apt folder> <package>: the names of its direct dependencies.
depends_of() {
    with_apt "$1" apt-cache depends "$2" | sed -n 's/^ *|\{0,1\}Depends: \([^ <]*\).*/\1/p'
}

# unpack_headers <root>: the headers packages of debs/ beside it, unpacked
# into it. Debian's leave out the script by which the make of the newer
# kernels checks sparse before it runs it (C=1), and without which it runs
# none: checker-valid.sh beside this one stands in for it.
unpack_headers() {
    local deb tree
    for deb in "$1"/../debs/*.deb; do
        dpkg-deb -x "$deb" "$1" || return
    done
    for tree in "$1"/usr/src/linux-headers-*/; do
        [ -e "$tree/scripts/checker-valid.sh" ] || ! grep -q checker-valid.sh "$tree/Makefile" ||
            cp "$here/checker-valid.sh" "$tree/scripts/" || return
    done
}

# make_root <folder> <suite> <gcc package>: the folder's root, of <suite>
# with that gcc and root_packages, and the headers of its debs/ in it. Made
# beside the old one, which it replaces at the end.
make_root() {
    # shellcheck disable=SC2086 # the packages, a word each
    bash "$here/buildroot.sh" make "$1/root.new" "$2" "$3" $root_packages || return
    # shellcheck disable=SC2310 # unpack_headers stops at its first failure by itself
    unpack_headers "$1/root.new" || return
    rm -rf "$1/root.old" && { [ ! -e "$1/root" ] || mv "$1/root" "$1/root.old"; } &&
        mv "$1/root.new" "$1/root" && rm -rf "$1/root.old" || return
    echo "$root_packages" >"$1/root-packages"
    ln -sfn root "$1/buildroot"
}

# gcc_package_of <folder>: the Debian package of the compiler its kernel
# names, the cross compiler for another architecture (gcc-14-aarch64-linux-gnu).
gcc_package_of() {
    local cc_text
    cc_text=$(cat "$1/compiler") || return
    cc_text=${cc_text%% *}
    echo "gcc-${cc_text##*gcc-}$(if [ -f "$1/cross" ]; then sed 's/^/-/; s/-$//' "$1/cross"; fi)"
}

# fetch <series> <folder>: fills the folder (which is locked and empty).
fetch() {
    local series=$1 dir=$2 suite release start=$SECONDS arch host cross
    suite=$(suite_of "$series")
    arch=$(arch_in "$series")
    cross=$(arch_field "$arch" cross)
    [ "$cross" != - ] || cross=""
    host=$(dpkg --print-architecture)
    echo "kernel $series: reading Debian $suite's package lists, then fetching its kernel and headers (about 15 s)"
    # Another architecture's lists come with this machine's, for the kernel's
    # build tools (below).
    local arches=()
    [ "$arch" = "$host" ] || arches=("$arch" "$host")
    private_apt "$dir/apt" "$suite" "${arches[@]}" || die "reading Debian $suite's package lists failed"
    release=$(current_release "$dir/apt" "$arch")
    [ -n "$release" ] || die "cannot tell the kernel release from $suite's linux-image-$(arch_field "$arch" flavour)"

    # The headers with the packages they are made of (common headers, kbuild,
    # base files), read from their dependencies rather than guessed. Since
    # Debian 14 the image package is empty and depends on linux-binary.
    local headers=(linux-headers-"$release") image
    # The kbuild package holds programs that run during the build: this
    # machine's, whatever the kernel's architecture.
    mapfile -t -O 1 headers < <(depends_of "$dir/apt" linux-headers-"$release" | grep -E '^linux-(headers|kbuild|base)-[0-9]' |
        if [ "$arch" = "$host" ]; then cat; else sed "s/^linux-kbuild-.*/&:$host/"; fi)
    image=linux-image-$release
    # shellcheck disable=SC2310 # depends_of is one pipeline
    ! depends_of "$dir/apt" "$image" | grep -qxF "linux-binary-$release" || image=linux-binary-$release
    mkdir -p "$dir/debs" "$dir/image"
    (cd "$dir/debs" && with_apt "$dir/apt" apt-get -qq download "${headers[@]}" "$image") ||
        die "downloading the $series kernel packages failed"
    if [ "$arch" != "$host" ]; then
        # The VM's shell, of the kernel's architecture.
        (cd "$dir/image" && with_apt "$dir/apt" apt-get -qq download "busybox-static:$arch" &&
            dpkg-deb --fsys-tarfile busybox-static_*.deb | tar -x -O --wildcards '*bin/busybox' >"$dir/busybox" &&
            chmod +x "$dir/busybox" && rm busybox-static_*.deb) ||
            die "fetching the $arch busybox failed"
    fi
    # The image alone, not the modules that come with it: a vmlinuz, or
    # where Debian ships no other (powerpc) the ELF vmlinux; for armel the
    # device tree too (tar fails on a name the package lacks).
    local members=('vmlinu[xz]*')
    [ "$arch" != armel ] || members+=('*/bcm2835-rpi-a-plus.dtb')
    dpkg-deb --fsys-tarfile "$dir/debs/${image}_"*.deb |
        tar -x -C "$dir/image" --wildcards --no-anchored "${members[@]}"
    rm "$dir/debs/${image}_"*.deb
    if [ "$arch" = armel ]; then
        # Debian's armel kernel is for the Raspberry Pi 1 and Zero; qemu's
        # raspi1ap is the 1 A+, booted with its device tree (vm.sh passes a
        # folder's "dtb"), less what qemu does not model: the power domains'
        # registers (the domains' driver oopses on them), and with the mini
        # UART on for the kernel's log.
        local dtb=$dir/dtb node=/soc/watchdog@7e100000
        command -v fdtput >/dev/null || die "fdtput is missing: run scripts/setup.sh (Debian package device-tree-compiler)"
        find "$dir/image" -name bcm2835-rpi-a-plus.dtb -exec mv {} "$dtb" \;
        [ -f "$dtb" ] && fdtput -t x "$dtb" $node reg 0x7e100000 0x114 && fdtput -t s "$dtb" $node reg-names pm &&
            fdtput -t s "$dtb" /soc/serial@7e215040 status okay || die "no Raspberry Pi 1 A+ device tree for qemu in $image"
    fi
    local vmlinuz
    vmlinuz=$(find "$dir/image" -type f -name 'vmlinu[xz]*' | sort -r | sed -n 1p)
    [ -n "$vmlinuz" ] || die "no kernel image in $image"
    mv "$vmlinuz" "$dir/vmlinuz"
    rm -rf "$dir/image"

    # The compiler the kernel was built with, e.g. "gcc-14 (Debian 14.2.0-19) 14.2.0"
    # or "x86_64-linux-gnu-gcc-16 (...)": used directly where this machine has
    # it, else in a root of the kernel's own release.
    local cc_text cc
    cc_text=$(dpkg-deb --fsys-tarfile "$dir/debs/linux-headers-${release}_"*.deb |
        tar -x -O "./usr/src/linux-headers-$release/.config" |
        sed -n 's/^CONFIG_CC_VERSION_TEXT="\(.*\)"$/\1/p')
    cc=${cc_text%% *}
    [[ $cc =~ gcc-[0-9]+$ ]] || die "the $series kernel was built with '$cc_text', not a gcc this script knows"
    echo "$cc_text" >"$dir/compiler"
    echo "$arch" >"$dir/arch"
    # Another architecture's: that gcc's cross compiler, e.g. aarch64-linux-gnu-gcc-12.
    if [ -n "$cross" ]; then
        echo "$cross" >"$dir/cross"
        cc=${cross}gcc-${cc##*gcc-}
    fi
    local place="this machine's $cc"
    if ! command -v "$cc" >/dev/null; then
        local why
        why=$(bash "$here/buildroot.sh" check)
        if [ -n "$why" ]; then
            echo "$why" >"$dir/unavailable"
            place="$cc, which cannot run here"
            echo "kernels.sh: warning: no $suite root with $cc can be made here, so the modules will not be built for $series: $why" >&2
        else
            echo "kernel $series: $release needs $cc: making a $suite root with it (about a minute)"
            local gcc_package
            gcc_package=$(gcc_package_of "$dir")
            # shellcheck disable=SC2310 # make_root stops at its first failure by itself
            make_root "$dir" "$suite" "$gcc_package" || die "making a $suite root with $cc failed"
            place="$cc in a $suite root"
        fi
    fi
    if [ ! -f "$dir/unavailable" ]; then
        local used
        used=$(if [ -e "$dir/buildroot" ]; then bash "$here/buildroot.sh" run "$dir/root" "$cc" --version
               else "$cc" --version; fi | sed -n 1p)
        # Only where the modules' code can differ: another compiler, or
        # another upstream version of it.
        local ours theirs
        ours=$(compiler_of "$used") theirs=$(compiler_of "$cc_text")
        [ "$ours" = "$theirs" ] ||
            echo "kernels.sh: warning: the $series kernel was built by $cc_text, its modules will be by $used" >&2
    fi
    mkdir -p "$dir/root"
    [ -e "$dir/buildroot" ] || unpack_headers "$dir/root"
    local kdir=root/usr/src/linux-headers-$release
    [ -f "$dir/$kdir/Makefile" ] || die "no headers tree in $dir/$kdir"
    if [ ! -e "$dir/buildroot" ]; then
        # Outside a root, the headers' top Makefile must find the common tree
        # where it was unpacked: beside it (make -C runs in the tree).
        sed -i "s|/usr/src/linux-headers-|../linux-headers-|" "$dir/$kdir/Makefile"
    fi
    ln -sfn "$kdir" "$dir/kdir"
    echo "$release" >"$dir/release"
    rm -rf "$dir/apt"
    cache_stamp "$dir"
    echo "kernel $series: $release, built with $place; $(du -sh "$dir" | cut -f1) in $((SECONDS - start)) s"
}

# get <series> <cache>: the series' folder, fetched unless it is complete.
# Another build's fetch of it is waited for fetch_limit seconds: the slowest
# fetch so far took 10 minutes beside the others.
fetch_limit=1800
get() {
    local series=$1 dir
    suite_of "$series" >/dev/null
    cache_lock "$2/$series" $fetch_limit "kernel $series, which another build is fetching"
    dir=$(cd "$2/$series" && pwd)
    if cache_complete "$dir"; then
        [ -e "$dir/buildroot" ] && [ "$(cat "$dir/root-packages" 2>/dev/null)" != "$root_packages" ] || return 0
        # A root made with other packages than root_packages: it alone again.
        echo "kernel $series: its $(suite_of "$series") root lacks some of $root_packages: making it again (about a minute)"
        cache_unstamp "$dir"
        (make_root "$dir" "$(suite_of "$series")" "$(gcc_package_of "$dir")") 2>"$dir/.log" &
        wait $! || LOG_TAIL=20 die_with_log "$dir/.log" "making the $series kernel's root again failed"
        cache_stamp "$dir"
        return
    fi
    find "$dir" -mindepth 1 -maxdepth 1 ! -name .lock -exec rm -rf {} +
    # In the background, not as a condition, so that set -e holds in fetch.
    (fetch "$series" "$dir") 2>"$dir/.log" &
    wait $! || LOG_TAIL=20 die_with_log "$dir/.log" "fetching the $series kernel failed"
    grep '^kernels.sh: warning' "$dir/.log" >&2 || true
}

# refresh <cache>: every cached series whose release is no longer Debian's
# current one is fetched anew, into a fresh folder that replaces the old one
# once it is complete.
refresh() {
    local cache=$1 dir series now arches arch suite
    for dir in "$cache"/*/; do
        dir=${dir%/}
        series=$(basename "$dir")
        # In a subshell: its die would end the whole refresh at the first
        # folder that is no series (debug-kasan has a release too).
        # shellcheck disable=SC2310 # suite_of is a test that dies when it fails
        [ -f "$dir/release" ] && (suite_of "$series") >/dev/null 2>&1 || continue
        arch=$(arch_in "$series") suite=$(suite_of "$series") arches=()
        [ "$arch" = "$(dpkg --print-architecture)" ] || arches=("$arch")
        private_apt "$cache/.refresh-apt" "$suite" "${arches[@]}" || die "reading Debian's package lists failed"
        now=$(current_release "$cache/.refresh-apt" "$arch")
        if [ "$now" = "$(cat "$dir/release")" ] && [ ! -f "$dir/unavailable" ]; then
            echo "kernel $series: $now is current"
            continue
        fi
        rm -rf "$cache/.new"
        (get "$series" "$cache/.new")
        cache_lock "$dir" $fetch_limit "kernel $series, which another build is fetching"
        rm -rf "$dir.old"
        mv "$dir" "$dir.old"
        mv "$cache/.new/$series" "$dir"
        rm -rf "$dir.old" "$cache/.new"
        exec 9>&-
    done
    rm -rf "$cache/.refresh-apt"
}

default_cache=${KERNEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qvx/kernels}
case ${1:-} in
--refresh)
    [ $# -le 2 ] || die "usage: kernels.sh --refresh [cache]"
    refresh "${2:-$default_cache}"
    ;;
"" | -*)
    die "usage: kernels.sh <5.10|6.1|6.12|unstable>[-<arch>] [cache] | --refresh [cache]"
    ;;
*)
    # The last argument is the cache when it names a folder rather than a series.
    cache=$default_cache
    # shellcheck disable=SC2310 # suite_of is a test that dies when it fails
    if ! (suite_of "${!#}") >/dev/null 2>&1 && [[ ${!#} == */* || -d ${!#} ]]; then
        cache=${!#}
        set -- "${@:1:$#-1}"
    fi
    [ $# -ge 1 ] || die "usage: kernels.sh <series>... [cache]"
    for series; do suite_of "$series" >/dev/null; done
    if [ $# -eq 1 ]; then
        get "$1" "$cache"
        exit
    fi
    # Several at once, their lines as they come.
    {
        pids=()
        for series; do
            (get "$series" "$cache") &
            pids+=($!)
        done
        failed=0
        for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
        exit $failed
    } | progress "fetching Debian's kernels"
    ;;
esac
