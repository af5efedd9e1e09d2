#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian packages cross-built for another architecture: lintian-clean,
# holding the files of a native build in that architecture's folders, every
# binary among them of that architecture and needing libc alone; and
# qvx-dkms's sources built the way its dkms.conf has DKMS build them, for a
# kernel of that architecture.
#   cross_test.sh <source folder> <arch> <kernel folder of that architecture> <scratch>
# The version is the tree's as it is now (cmake/version.sh), as the build's.
set -euo pipefail
top=$1 arch=$2 kernel=$3 work=$4
version=$("$top/cmake/version.sh")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../checks.sh"
. "$top/shell/common.sh"
. "$top/kernel_modules/tools/arches.sh"
. "$top/kernel_modules/tools/kernel_env.sh"
command -v lintian >/dev/null || die "lintian is missing: run scripts/setup.sh"
[ -f "$kernel/release" ] || die "no cached kernel in $kernel: the build fetches it (kernel_modules/tools/kernels.sh)"
scratch "$work"
multiarch=$(dpkg-architecture -a"$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
# shellcheck disable=SC2310 # arch_field is one awk after a setting that cannot fail
machine=$(arch_field "$arch" elf) || die "no architecture $arch in cmake/arches.table"
elf_machine() { readelf -h "$1" 2>&1 | sed -n 's/^ *Machine: *//p'; }

"$top/scripts/package.sh" --arch "$arch" "$work/packages" >/dev/null
lint "$work"/packages/*.changes
for deb in "$work"/packages/*.deb; do
    package=$(dpkg-deb -f "$deb" Package)
    case $package in qvx-dkms) want=all ;; *) want=$arch ;; esac
    same "$package's architecture" "$(dpkg-deb -f "$deb" Architecture)" "$want"
    ! dpkg-deb -f "$deb" Depends | grep -qE 'libc6[:-]' || fail "$package depends on a cross or qualified libc6: $(dpkg-deb -f "$deb" Depends)"
    dpkg-deb -x "$deb" "$work/tree"
done
contents "$work"/packages/*.deb >"$work/contents"
diff -u <(sed "s/@VERSION@/$version/; s/x86_64-linux-gnu/$multiarch/" "$here/contents.expected" | LC_ALL=C sort) \
    "$work/contents" || fail "the packages hold other files than a native build's"
# Built with Debian's hardening flags, an arm64 binary needs the loader as
# well: the stack protector's guard lives there (__stack_chk_guard), not in
# libc.so.6 as on x86-64. Both are libc6's.
loader=$(readelf -l "$work/tree/usr/bin/devpoke" | sed -n 's/.*interpreter: \(.*\)\]$/\1/p')
while read -r f; do
    same "${f#"$work/tree"}'s ELF machine" "$(elf_machine "$f")" "$machine"
    [[ $f != *.o ]] || continue
    libs=$(needed "$f")
    ! nm -D "$f" | grep -q ' U __stack_chk_guard' || libs=${libs/"[${loader##*/}] "/}
    same "libraries ${f#"$work/tree"} needs, less the loader for the stack guard" "$libs" "[libc.so.6] "
done < <(find "$work/tree" -type f \( -path '*/bin/*' -o -name '*.so' -o -name '*.o' \))

# DKMS on a machine of that architecture: the dkms.conf's MAKE line in the
# installed source folder, against that kernel's headers (its cross compiler
# standing in for the machine's own), in the kernel's build root when it has
# one (a copy of the folder there).
src=$work/tree/usr/src/qvx-$version
# shellcheck disable=SC2310 # kernel_env stops at its first failure by itself
kernel_env "$kernel" || die "could not find how to build against $kernel (the error above)"
# shellcheck disable=SC2154 # kernel_env set why
[ -z "$why" ] || { skip "the dkms.conf build for $(cat "$kernel/release"): $why" && finish; }
if [ -n "$root" ]; then
    built=$(kernel_tmp)
    trap 'scratch_end; [ -n "${KEEP:-}" ] || rm -rf "$built"' EXIT
    cp -a "$src/." "$built"
    src=$built
fi
# shellcheck disable=SC2154 # kernel_env set them
"${run[@]}" env "${cross[@]}" kernel_source_dir="$kdir" bash -c 'cd "$1" && . ./dkms.conf && eval "${MAKE[0]}"' \
    dkms "${src#"$root"}" >"$work/dkms.log" 2>&1 || fail "the dkms.conf build for $(cat "$kernel/release"): $(tail -n 20 "$work/dkms.log")"
for module in kthreads/turnpair qvx_device/qvx_device; do
    ko=$src/$module.ko
    same "$module.ko's ELF machine" "$(elf_machine "$ko")" "$machine"
    same "$module.ko's kernel" "$(tr '\0' '\n' <"$ko" | sed -n 's/^vermagic=\([^ ]*\).*/\1/p')" "$(cat "$kernel/release")"
done
finish "the $arch packages: all checks passed ($SECONDS s)"
