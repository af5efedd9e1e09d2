#!/usr/bin/env bash
# Fetches one of Debian's x86-64 kernels with its headers and module build
# files into a cache folder, for building the kernel modules against it and
# booting it under qemu. The machine's apt setup is left alone: a private apt
# configuration lives beside the cache.
#
#   scripts/kernels.sh <series> <cache>     series 5.10 (bullseye) or 6.1 (bookworm)
#
# Leaves in <cache>/<series>/:
#   vmlinuz   the kernel image
#   kdir      the headers tree to build modules against (make -C kdir M=...)
#   release   the kernel release, e.g. 5.10.0-46-amd64
#   make.env  extra make arguments the tree needs (CC=gcc for 5.10)
# Runs again only when the cache is incomplete; concurrent runs wait for each
# other.
set -euo pipefail

die() { echo "kernels.sh: $*" >&2; exit 1; }
[ $# -eq 2 ] || die "usage: kernels.sh <5.10|6.1> <cache folder>"
series=$1
case $series in
5.10) suite=bullseye make_env="CC=gcc" ;; # its headers ask for gcc-10, which bookworm lacks
6.1) suite=bookworm make_env="" ;;
*) die "unknown kernel series '$series' (known: 5.10, 6.1)" ;;
esac
mkdir -p "$2/$series"
dir=$(cd "$2/$series" && pwd)

exec 9>"$dir/.lock"
flock 9
if [ -f "$dir/.complete" ]; then
    echo "kernel $series: $(cat "$dir/release") already in $dir"
    exit 0
fi
for tool in apt-get apt-cache dpkg-deb; do
    command -v $tool >/dev/null || die "$tool is missing (Debian's apt and dpkg are needed)"
done

apt=$dir/apt
rm -rf "$apt" "$dir/debs" "$dir/root"
mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$dir/debs" "$dir/root"
: >"$apt/status"
cat >"$apt/sources.list" <<EOF
deb http://deb.debian.org/debian $suite main
deb http://deb.debian.org/debian-security $suite-security main
EOF
opts=(-o Dir::Etc::sourcelist="$apt/sources.list" -o Dir::Etc::sourceparts=/nonexistent
      -o Dir::State::lists="$apt/lists" -o Dir::Cache="$apt/cache"
      -o Dir::State::status="$apt/status" -o APT::Sandbox::User=root)

echo "kernel $series: reading Debian $suite's package lists"
apt-get "${opts[@]}" -qq update || die "apt-get update for $suite failed"
release=$(apt-cache "${opts[@]}" depends linux-image-amd64 |
    sed -n 's/^ *Depends: linux-image-\([0-9][^ ]*-amd64\)$/\1/p' | head -n1)
[ -n "$release" ] || die "cannot tell the kernel release from $suite's linux-image-amd64"
abi=${release%-amd64}
packages=(linux-image-"$release" linux-headers-"$release" linux-headers-"$abi"-common
          linux-kbuild-"$series")

echo "kernel $series: downloading ${packages[*]}"
(cd "$dir/debs" && apt-get "${opts[@]}" -qq download "${packages[@]}") ||
    die "downloading the $series kernel packages failed"
for deb in "$dir"/debs/*.deb; do
    dpkg-deb -x "$deb" "$dir/root"
done
# The kernel's own modules are not needed for booting it with an initramfs.
rm -rf "$dir/root/lib/modules"

kdir=$dir/root/usr/src/linux-headers-$release
[ -f "$kdir/Makefile" ] || die "no headers tree in $kdir"
# The headers' top Makefile names the common tree by its installed path.
sed -i "s|/usr/src/linux-headers-$abi-common|$dir/root/usr/src/linux-headers-$abi-common|g" \
    "$kdir/Makefile"
ln -sfn "root/boot/vmlinuz-$release" "$dir/vmlinuz"
ln -sfn "root/usr/src/linux-headers-$release" "$dir/kdir"
echo "$release" >"$dir/release"
echo "$make_env" >"$dir/make.env"
rm -rf "$dir/debs" "$apt"
touch "$dir/.complete"
echo "kernel $series: $release ready in $dir"
