#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian packages as a user meets them. Built and linted; installed with
# apt, together with the headers of the cached Debian 12 kernel, into a clean
# Debian 12 root, where the programs run, the list is built from the
# installed files and DKMS has built both modules for that kernel; those
# modules then pass their scenarios in that kernel under qemu; and purging the
# packages leaves nothing of them behind.
#   package_test.sh <source folder> <version> <kernel folder> <root cache> <scratch>
# The root cache holds a Debian 12 root with what the packages and the checks
# need, made with mmdebstrap when missing or when that list changes; every run
# works in a copy of it.
set -euo pipefail
top=$1 version=$2 kernel=$3 cache=$4 work=$5
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../checks.sh"
. "$top/shell/common.sh"
buildroot=$top/kernel_modules/tools/buildroot.sh

why=$(bash "$buildroot" check)
[ -z "$why" ] || { echo "SKIP: no Debian root can be made or entered here: $why"; exit 77; }
command -v lintian >/dev/null || die "lintian is missing: run scripts/setup.sh"
[ -f "$kernel/vmlinuz" ] && [ -f "$kernel/release" ] ||
    die "no cached kernel in $kernel: the build fetches it (kernel_modules/tools/kernels.sh)"
release=$(cat "$kernel/release")
headers=("$kernel"/debs/*.deb)
# What dpkg leaves read-only in a root is an ordinary user's to remove too.
scrap() {
    [ ! -d "$work" ] || find "$work" -type d ! -perm -u+w -exec chmod u+w {} +
    rm -rf "$work"
}
scrap
mkdir -p "$work"
root=$work/root
trap '[ -n "${KEEP:-}" ] || scrap' EXIT
step() { echo "== $* (at $SECONDS s)"; }
# Only root is mapped into an ordinary user's namespace: apt must not switch
# to its own user.
in_root() { bash "$buildroot" run "$root" env DEBIAN_FRONTEND=noninteractive "$@"; }
apt_in_root() { in_root apt-get -y -o APT::Sandbox::User=root "$@"; }

step "1. building the packages, lintian"
"$top/scripts/package.sh" "$work/packages" >/dev/null
debs=("$work"/packages/*.deb)
lint=$(lintian --fail-on error,warning "$work"/packages/*.changes 2>&1) ||
    fail "lintian: $(echo; echo "$lint")"
for deb in "${debs[@]}"; do
    package=$(dpkg-deb -f "$deb" Package)
    same "$package's version" "$(dpkg-deb -f "$deb" Version)" "$version"
    dpkg-deb -c "$deb" | awk -v p="$package" '$1 !~ /^d/ { sub(/^\.\//, "", $6); print p, $6 }'
done | grep -v ' usr/share/doc/' | LC_ALL=C sort >"$work/contents"
diff -u <(sed "s/@VERSION@/$version/" "$here/contents.expected") "$work/contents" ||
    fail "the packages hold other files than expected"

step "2. a clean Debian 12 root; apt install of the packages and the $release headers; a kernel's headers later"
# The root has, besides the checks' tools, whatever the packages and the
# headers depend on or recommend, so that apt finds it all in place.
mine=$(for deb in "${debs[@]}" "${headers[@]}"; do dpkg-deb -f "$deb" Package; done)
needs=$(for deb in "${debs[@]}" "${headers[@]}"; do dpkg-deb -f "$deb" Depends Recommends; done |
    sed 's/^[A-Za-z]*: //' |
    tr ',' '\n' | sed 's/|.*//; s/[(:].*//; s/ //g; /^$/d' | grep -vxF "$mine" |
    cat - <(printf '%s\n' cmake ninja-build pkg-config gcc libc6-dev) | LC_ALL=C sort -u)
(
    cache_lock "$cache" "waiting for another test that is making the Debian 12 root in $cache"
    key=$(echo "$needs" | sha256sum | cut -c1-16)
    if ! cache_complete "$cache" "$key"; then
        echo "making a Debian 12 root in $cache"
        cache_unstamp "$cache"
        rm -rf "$cache/root"
        # shellcheck disable=SC2086
        bash "$buildroot" make "$cache/root" bookworm $needs 2>"$work/mmdebstrap.log" ||
            LOG_TAIL=20 die_with_log "$work/mmdebstrap.log" "no Debian 12 root"
        cache_stamp "$cache" "$key"
    fi
    cp -a "$cache/root" "$root"
)
# What the root holds before, less apt's and dpkg's own records and logs.
snapshot() {
    (cd "$root" && find . -xdev \( -path ./proc -o -path ./tmp -o -path ./var/lib/dpkg -o -path ./var/lib/apt \
        -o -path ./var/cache -o -path ./var/log \) -prune -o -print) | sed 's/^\.//' | LC_ALL=C sort
}
snapshot >"$work/before"
mkdir "$root/tmp/debs"
cp "${debs[@]}" "${headers[@]}" "$root/tmp/debs/"
inside=()
for deb in "${debs[@]}" "${headers[@]}"; do inside+=("/tmp/debs/${deb##*/}"); done
apt_in_root install --no-install-recommends "${inside[@]}" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; die "apt could not install the packages"; }
echo "DKMS on install:"
sed -n '/^Loading new qvx/,/^depmod/p' "$work/install.log" | grep -vE '^$|^ ' | sed 's/^/    /'
same "dkms status" "$(in_root dkms status)" "qvx/$version, $release, x86_64: installed"

# A kernel's headers arriving after the package: the headers' own hook has
# DKMS build both modules for it.
in_root dkms remove "qvx/$version" --all >/dev/null
in_root dkms add "qvx/$version" >/dev/null
same "dkms status, no headers yet" "$(in_root dkms status)" "qvx/$version: added"
in_root /etc/kernel/header_postinst.d/dkms "$release" >"$work/hook.log" 2>&1 ||
    { cat "$work/hook.log"; fail "the headers' DKMS hook"; }
echo "DKMS on the headers' hook:"
grep -E '^(dkms:|Building|make|[a-z_]+\.ko:|depmod)' "$work/hook.log" | sed 's/^/    /'
same "dkms status after the headers' hook" "$(in_root dkms status)" "qvx/$version, $release, x86_64: installed"

step "3. the installed programs, the list built from the installed files, DKMS's modules"
mkdir "$root/tmp/t"
cp -r "$top/tests/install/consumers.sh" "$top/tests/install/consumer" "$top/demo/list_road.c" \
    "$top/tests/list_ops/list_road.expected" "$root/tmp/t/"
for how in pkg-config cmake; do
    in_root bash /tmp/t/consumers.sh $how /usr /tmp/t/list_road.c /tmp/t/list_road.expected /tmp/t/$how ||
        fail "the list built with $how from the packages"
done
in_root bash /tmp/t/consumers.sh programs /usr - - /tmp/t/programs || fail "the installed selfbuild"
same "pkg-config's version" "$(in_root pkg-config --modversion listcore)" "$version"
# Built with Debian's flags, they still need libc alone.
for f in usr/bin/devpoke usr/bin/fifodrain usr/bin/selfbuild usr/lib/x86_64-linux-gnu/liblistcore.so; do
    same "libraries of /$f" "$(needed "$root/$f")" "[libc.so.6] "
done
same "fifodrain with a writer" "$(in_root sh -c 'mkdir /tmp/f && cd /tmp/f || exit
    timeout 20 fifodrain >out & pid=$!
    while [ ! -p fifofile ]; do sleep 0.1; done
    echo hello >fifofile && wait $pid && cat out')" hello
printf '#!/bin/sh\nexec bash "%s" run "%s" /usr/bin/devpoke\n' "$buildroot" "$root" >"$work/devpoke"
chmod +x "$work/devpoke"
bash "$top/tests/device_client/devpoke_test.sh" absent "$work/devpoke" || fail "devpoke without a device"
modules=/lib/modules/$release/updates/dkms
for module in turnpair qvx_device; do
    same "modprobe $module" "$(in_root modprobe -S "$release" --show-depends $module)" "insmod $modules/$module.ko "
done
same "modules loaded at boot" "$(in_root sh -c 'grep -rlsE "turnpair|qvx_device" /etc/modules* /usr/lib/modules-load.d')" ""
# Who may open the device: the udev rule, and the system group it names.
rule=/usr/lib/udev/rules.d/60-qvx-dkms.rules
same "the udev rule" "$(grep -v '^#' "$root$rule")" 'KERNEL=="qvx_device", SUBSYSTEM=="misc", GROUP="qvx", MODE="0660"'
gid=$(in_root getent group qvx | cut -d: -f3 || true)
[ -n "$gid" ] && [ "$gid" -ge 100 ] && [ "$gid" -lt 1000 ] || fail "no system group qvx (gid 100 to 999): '$gid'"

step "4. DKMS's modules in Linux $release under qemu"
bash "$top/tests/kernel_modules/turnpair_test.sh" "$kernel" 2 "$root$modules/turnpair.ko" ||
    fail "turnpair as DKMS built it"
bash "$top/tests/device_client/devpoke_test.sh" vm "$kernel" 1 "$root/usr/bin/devpoke" "$root$modules/qvx_device.ko" ||
    fail "devpoke with qvx_device as DKMS built it"

step "5. apt purge"
apt_in_root purge liblistcore liblistcore-dev qvx-tools qvx-dkms >"$work/purge.log" 2>&1 ||
    { cat "$work/purge.log"; die "apt could not purge the packages"; }
echo "DKMS on purge:"
sed -n '/^Module qvx-/,/^Deleting module/p' "$work/purge.log" | grep -vE '^$|^ ' | sed 's/^/    /'
[ ! -e "$root$rule" ] || fail "the udev rule is left after the purge"
same "the group qvx after the purge (kept, as system groups are)" "$(in_root getent group qvx | cut -d: -f3)" "$gid"
# Left over may be only the headers' files, the kernel's module index
# that depmod rebuilt when DKMS took the modules away (which a system with
# that kernel has anyway), and what adding the group qvx, which stays, left:
# the group file's backup and adduser's lock. Packages name /lib, /bin and
# /sbin for their merged /usr places.
mapfile -t header_packages < <(for deb in "${headers[@]}"; do dpkg-deb -f "$deb" Package; done)
in_root dpkg-query -L "${header_packages[@]}" |
    sed -E 's,^/(lib|bin|sbin)/,/usr/\1/,' | LC_ALL=C sort >"$work/headers"
left=$(LC_ALL=C comm -13 "$work/before" <(snapshot) | LC_ALL=C comm -23 - "$work/headers" |
    grep -vE "^/usr/lib/modules/$release/modules\.[a-z.]+$|^/etc/gshadow-$|^/run/adduser$" || true)
[ -z "$left" ] || fail "left behind after the purge:$(echo; echo "$left" | head -n 20)"

finish "the packages, as installed, used and purged: all checks passed ($SECONDS s)"
