#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian packages as a user meets them, on Debian 12 and 13. Built once:
#   package_test.sh build <source folder> <packages>
# builds and lints them into <packages>/new and checks what they hold and
# that every file naming the version names today's, and builds those of the
# previous release, from the commit that released it (cmake/version.sh),
# into <packages>/old. Then each run
#   package_test.sh <run> <release> <source folder> <kernel folder> <root cache> <packages> <scratch>
# installs them with apt, together with the headers of the release's cached
# kernel, into a clean root of <release> (bookworm, trixie), where the
# programs and man's pages are there and DKMS has built both modules for
# that kernel; the modules then run in that kernel; and
# purging the packages leaves nothing of them behind. The runs:
#   group    a group qvx made by hand is there before: the packages use it
#   upgrade  the previous release is installed first, and today's upgrades it
#            as the README has users install: apt install ./<packages>
#   repo     the same through the signed repository scripts/repo.sh makes:
#            the previous release installed from it, today's published into
#            it and taken by apt upgrade; one signed by another key refused
#   boot     the root, with Debian's kernel, boots under qemu as a real system
#            (its kernel and initramfs, systemd, udev), where the modules run;
#            the other runs run them from a busybox initramfs
# The root cache holds a root of the release with what the packages and the
# checks need (and, for Debian 13, what booting needs), made with mmdebstrap
# when missing or when that list changes; every run works in a copy of it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../checks.sh"
PATH=$PATH:/usr/sbin:/sbin # mke2fs

if [ "${1:-}" = build ]; then
    top=$2 out=$3
    . "$top/shell/common.sh"
    # The tree's version as it is now, which the build gives the packages.
    version=$("$top/cmake/version.sh")
    command -v lintian >/dev/null || die "lintian is missing: run scripts/setup.sh"
    rm -rf "$out"
    mkdir -p "$out/tree"
    read -r lower commit < <("$top/cmake/version.sh" --previous) || true
    # Both builds at once (the release's stopped on any way out), and lintian
    # as soon as today's are there: each is mostly one process at a time.
    older=''
    if [ -n "${commit:-}" ]; then
        git -C "$top" archive "$commit" | tar -x -C "$out/tree"
        setsid "$out/tree/scripts/package.sh" "$out/old" >/dev/null 2>&1 &
        older=$! && trap 'stop_group $older "the build of the release $lower"' EXIT
    fi
    "$top/scripts/package.sh" "$out/new" >/dev/null
    # The .changes names the source package too: lintian checks the .dsc.
    lint "$out"/new/*.changes
    # Its log names every hardening flag of Debian's +all on each compiler
    # and linker line (blhc --debian: not PIE, where the compiler makes it).
    command -v blhc >/dev/null || die "blhc is missing: run scripts/setup.sh"
    said=$(blhc --debian --all "$out/new/build.log") || fail "blhc on the build log:$(echo; echo "$said" | head -n 10)"
    [ -z "$older" ] || wait "$older" ||
        die "the packages of the release $lower did not build at ${commit:0:10}: see $out/old/build.log"
    rm -rf "$out/tree"
    # Every package and every file naming the version names the build's (the
    # release's packages, the release); the CMake package, the release it
    # follows, as debian/changelog's release does.
    for deb in "$out"/old/*.deb "$out"/new/*.deb; do
        [ -f "$deb" ] || { echo "no previous release in this tree's history: the upgrades cannot run"; continue; }
        case $deb in "$out"/old/*) want=$lower ;; *) want=$version; dpkg-deb -x "$deb" "$out/files" ;; esac
        same "the version in ${deb#"$out"/}" "$(dpkg-deb -f "$deb" Version)" "$want"
    done
    dpkg --compare-versions "${lower:-0}" lt "$version" || fail "$version does not sort above the release $lower"
    mkdir "$out/files/debian" && cp "$top/debian/changelog" "$out/files/debian/"
    # Before a release's entry (<release>~<n>...), the newest entry is the release before.
    base=${version%%[+~]*} entry=${version%%[+~]*}
    [ "$version" = "${version#*~}" ] || entry=$lower
    while read -r file pattern want; do
        same "the version in $file" "$(sed -n "s/$pattern/\\1/p" "$out/files/$file" | head -n 1)" "$want"
    done <<EOF
usr/lib/x86_64-linux-gnu/pkgconfig/listcore.pc ^Version:.\\(.*\\) $version
usr/lib/x86_64-linux-gnu/cmake/listcore/listcoreConfigVersion.cmake ^set(PACKAGE_VERSION."\\(.*\\)") $base
usr/src/qvx-$version/dkms.conf ^PACKAGE_VERSION="\\(.*\\)" $version
debian/changelog ^qvx.(\\([^+)]*\\).* $entry
EOF
    rm -rf "$out/files"
    contents "$out"/new/*.deb >"$out/contents"
    diff -u <(sed "s/@VERSION@/$version/" "$here/contents.expected") "$out/contents" ||
        fail "the packages hold other files than expected"
    finish "the packages at $version, and of the release ${lower:-(none)} for the upgrades, built; lintian, contents and versions as expected"
fi

# Built again as Debian's rebuilders vary a build:
#   package_test.sh reproducible <source folder> <packages> <scratch>
# in another folder, time zone, locale, umask, number of jobs and host name
# (in a UTS namespace of its own: root's, or an ordinary user's inside a user
# namespace that maps it back to its own IDs), each package must be byte for
# byte the one in <packages>/new; diffoscope says how one differs.
if [ "${1:-}" = reproducible ]; then
    top=$2 out=$3 work=$4
    . "$top/shell/common.sh"
    debs=("$out"/new/*.deb)
    [ -f "${debs[0]}" ] || die "no packages in $out/new: the test package.build makes them"
    scratch "$work"
    again=$work/an/other/folder
    vary=(env TZ=Pacific/Kiritimati LC_ALL=C.UTF-8 LANG=C.UTF-8 LANGUAGE=fr:de JOBS=1
        sh -c 'umask 0002 && exec "$@"' sh "$top/scripts/package.sh" "$again")
    how="TZ=Pacific/Kiritimati, LC_ALL=C.UTF-8, umask 0002, one job, build folder $again"
    # shellcheck disable=SC2016 # for the inner shell
    if [ "$(id -u)" -eq 0 ] && unshare -u true 2>/dev/null; then
        vary=(unshare -u sh -c 'hostname qvx-rebuild && exec "$@"' sh "${vary[@]}") how="$how, host name qvx-rebuild"
    elif unshare -r -u true 2>/dev/null; then
        vary=(unshare -r -u sh -c 'hostname qvx-rebuild && u=$1 g=$2 && shift 2 && exec unshare --map-user="$u" --map-group="$g" "$@"'
            sh "$(id -u)" "$(id -g)" "${vary[@]}") how="$how, host name qvx-rebuild"
    else
        how="$how; the host name as it is (no UTS namespace can be made here)"
    fi
    echo "building the packages again ($how): about 20 s"
    "${vary[@]}" >/dev/null
    same "the packages built again" "$(cd "$again" && ls -- *.deb)" "$(cd "$out/new" && ls -- *.deb)"
    for deb in "${debs[@]}"; do
        name=${deb##*/}
        [ -f "$again/$name" ] && ! cmp -s "$deb" "$again/$name" || continue
        fail "$name differs when built again"
        command -v diffoscope >/dev/null || { echo "    (diffoscope, Debian package diffoscope-minimal, would say how)"; continue; }
        diffoscope --text "$work/${name%%_*}.diffoscope" "$deb" "$again/$name" >/dev/null || true
        grep -E '├──|^[│ ]*[-+]' "$work/${name%%_*}.diffoscope" | head -n 30 | sed 's/^/    /'
    done
    finish "the ${#debs[@]} packages built again ($how) are byte for byte the same"
fi

[ $# -eq 7 ] || usage "build ... | <group|upgrade|repo|boot> <release> <source> <kernel> <root cache> <packages> <scratch>"
run=$1 release=$2 top=$3 kernel=$4 cache=$5 packages=$6 work=$7
. "$top/shell/common.sh"
buildroot=$top/kernel_modules/tools/buildroot.sh
defaults "$here/../kernel_modules/vm-limits"
case $run in group | boot) upgrade= ;; upgrade | repo) upgrade=$run ;; *) die "unknown run '$run'" ;; esac
# Debian 13's root can boot: its kernel, systemd and udev come with it.
extra=()
[ "$release" != trixie ] || extra=(linux-image-amd64 systemd-sysv udev initramfs-tools)
[ "$run" != boot ] || [ ${#extra[@]} -gt 0 ] || die "only Debian 13's root boots"
[ "$run" != boot ] || command -v mke2fs >/dev/null ||
    die "mke2fs is missing: run scripts/setup.sh (Debian package e2fsprogs)"

why=$(bash "$buildroot" check)
[ -z "$why" ] || { echo "SKIP: no Debian root can be made or entered here: $why"; exit 77; }
[ -f "$kernel/vmlinuz" ] && [ -f "$kernel/release" ] ||
    die "no cached kernel in $kernel: the build fetches it (kernel_modules/tools/kernels.sh)"
kernel_release=$(cat "$kernel/release")
headers=("$kernel"/debs/*.deb)
debs=("$packages"/new/*.deb) old=("$packages"/old/*.deb)
[ -f "${debs[0]}" ] || die "no packages in $packages: the test package.build makes them"
version=$(dpkg-deb -f "${debs[0]}" Version) # the build's, which package.build checked
[ -f "${old[0]}" ] || old=() # none in a tree without history, which the fresh installs need not
[ -z "$upgrade" ] || [ ${#old[@]} -gt 0 ] ||
    { echo "SKIP: no packages of a previous release (no git history here?): see package.build"; exit 77; }
lower=$(dpkg-deb -f "${old[0]-}" Version 2>/dev/null || true)
scratch "$work"
root=$work/root
step() { echo "== $* (at $SECONDS s)"; }
# Only root is mapped into an ordinary user's namespace: apt must not switch
# to its own user.
in_root() { bash "$buildroot" run "$root" env DEBIAN_FRONTEND=noninteractive "$@"; }
apt_in_root() { in_root apt-get -y -o APT::Sandbox::User=root "$@"; }
# As the root's root: an ordinary user's files are root's in the namespace it
# enters the root by, where it may read those the root keeps from others
# (Debian 13 leaves /etc/shadow- mode 0000).
as_root_of_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else unshare -r "$@"; fi; }

step "1. a clean $release root, with the $kernel_release headers' packages"
# The root has, besides the checks' tools, whatever the packages and the
# headers depend on or recommend, so that apt finds it all in place.
mine=$(for deb in "${debs[@]}" "${headers[@]}"; do dpkg-deb -f "$deb" Package; done)
needs=$(for deb in "${debs[@]}" "${headers[@]}"; do dpkg-deb -f "$deb" Pre-Depends Depends Recommends; done |
    tr ',' '\n' | sed 's/^[A-Za-z-]*: //; s/|.*//; s/[(:].*//; s/ //g; /^$/d' | grep -vxF "$mine" |
    cat - <(printf '%s\n' pkg-config gcc libc6-dev openssl man-db "${extra[@]}") | LC_ALL=C sort -u)
(
    # mmdebstrap makes one in a few minutes; 15 at most
    cache_lock "$cache" 900 "the $release root in $cache, which another test is making"
    key=$(echo "$needs" | sha256sum | cut -c1-16)
    # shellcheck disable=SC2310 # cache_complete is a test
    if ! cache_complete "$cache" "$key"; then
        echo "making a $release root in $cache"
        cache_unstamp "$cache"
        rm -rf "$cache/root"
        # shellcheck disable=SC2086
        bash "$buildroot" make "$cache/root" "$release" $needs 2>"$work/mmdebstrap.log" ||
            LOG_TAIL=20 die_with_log "$work/mmdebstrap.log" "no $release root (a kernel the archive no longer has? kernels.sh --refresh)"
        cache_stamp "$cache" "$key"
    fi
    as_root_of_root cp -a "$cache/root" "$root"
)
# The booted system's own: its disk, and a unit that runs the checks on the
# serial console once it is up, then powers off; no login prompt there.
if [ "$run" = boot ]; then
    echo "/dev/vda / ext4 rw 0 1" >"$root/etc/fstab"
    printf '%s\n' '[Unit]' "Description=The package test's checks" After=multi-user.target \
        SuccessAction=poweroff FailureAction=poweroff \
        '[Service]' Type=oneshot "ExecStart=/bin/sh -c 'sh /root/checks.sh >/dev/ttyS0 2>&1'" \
        >"$root/etc/systemd/system/qvx-checks.service"
    mkdir -p "$root/etc/systemd/system/multi-user.target.wants"
    ln -s ../qvx-checks.service "$root/etc/systemd/system/multi-user.target.wants/"
    ln -s /dev/null "$root/etc/systemd/system/serial-getty@ttyS0.service"
    {
        cat "$top/tests/kernel_modules/marks.sh"
        # On a line of its own: the console may hold a terminal reset before it.
        echo 'echo; mark scenario begin at "$(cut -d. -f1 /proc/uptime)" s; mark kernel "$(uname -r)"; mark dkms "$(dkms status)"'
        # debian/tests/modules as autopkgtest runs it: as root, in the source
        # tree, with a scratch folder of its own.
        echo 'tmp=$(mktemp -d) && cd /root/source && AUTOPKGTEST_TMP=$tmp bash debian/tests/modules; mark modules test status $?'
        echo 'mark scenario end at "$(cut -d. -f1 /proc/uptime)" s'
    } >"$root/root/checks.sh"
    copy_source "$top" "$root/root/source"
fi
# A group qvx made by hand, as "addgroup qvx" makes it.
[ "$run" != group ] || in_root addgroup --quiet qvx
# What the root holds before, less apt's and dpkg's own records and logs.
snapshot() {
    (cd "$root" && find . -xdev \( -path ./proc -o -path ./tmp -o -path ./var/lib/dpkg -o -path ./var/lib/apt \
        -o -path ./var/cache -o -path ./var/log \) -prune -o -print) | sed 's/^\.//' | LC_ALL=C sort
}
# shellcheck disable=SC2310 # snapshot is one pipeline
snapshot >"$work/before" || die "could not list what the $release root holds"
mkdir "$root/tmp/debs"
cp "${debs[@]}" "${old[@]}" "${headers[@]}" "$root/tmp/debs/"
# apt_install <log> <what> <package or .deb>...: apt install in the root, a
# .deb by its copy in /tmp/debs; when it fails, the test ends saying <what>.
apt_install() {
    local args=("${@:3}") inside=/tmp/debs/
    logged "$1" "$2" apt_in_root install --no-install-recommends "${args[@]/#*\//$inside}"
}
# dkms_said <log> <what>: what DKMS said in an apt or hook log; a warning or
# error there fails.
dkms_said() {
    echo "DKMS on $2:"
    grep -E 'qvx[-/]|\.ko|depmod|dkms|[Kk]ey|[Cc]ertificate|[Ss]ign' "$1" |
        grep -vE '^( |(Unpacking|Setting up|Selecting|Preparing|Removing|Purging|Processing|dpkg:) )' |
        sed 's/^/    /' || true
    ! grep -iE 'warn|deprecat|error|fail|not found|can.t|bad exit' "$1" | grep -v '^dpkg: ' |
        grep -iE 'dkms|qvx|\.ko|openssl|sign|key|build area' || fail "DKMS warned on $2"
}
rule=/usr/lib/udev/rules.d/60-qvx-dkms.rules
# check_group <when>: the group qvx is there, the one made by hand or else
# a system group; its number in gid.
check_group() {
    # shellcheck disable=SC2310 # in_root is one command
    gid=$(in_root getent group qvx | cut -d: -f3 || true)
    [ "$run" != group ] || { same "$1: the group qvx made by hand" "$gid" 1000; return; }
    [ -n "$gid" ] && [ "$gid" -ge 100 ] && [ "$gid" -lt 1000 ] || fail "$1: no system group qvx (gid 100 to 999): '$gid'"
}

if [ -n "$upgrade" ]; then
    step "2. the release $lower and the $kernel_release headers installed ($run), then today's"
    from=("${old[@]}")
    if [ "$run" = repo ]; then
        # A repository is refused when signed by another key than the one
        # it is added with; this user's key is made on the first publish,
        # and taken from the publisher's gpg by the fingerprint it printed
        # (another exports nothing) into /etc/apt/keyrings, as users do.
        publish() {
            XDG_DATA_HOME=$work/$1 "$top/scripts/repo.sh" "$root/srv/$2" "${@:3}" >>"$work/repo.log" 2>&1 ||
                die_with_log "$work/repo.log" "repo.sh could not publish into /srv/$2"
        }
        publish keys qvx "${old[@]}"
        publish other foreign "${old[@]}"
        keyring=/etc/apt/keyrings/qvx-archive-keyring.gpg && mkdir -p "$root/etc/apt/keyrings"
        gpg --batch --homedir "$work/keys/qvx/repo-key" --export "$(sed -n 's|.*/srv/qvx, signed by the key ||p' "$work/repo.log")" >"$root$keyring"
        echo "deb [signed-by=$keyring] file:/srv/foreign ./" >"$root/etc/apt/sources.list.d/qvx.list"
        # shellcheck disable=SC2310 # apt_in_root is one command, whose failure is the check
        ! apt_in_root update >"$work/refused.log" 2>&1 || fail "apt took a repository signed by another key"
        grep -E '^(E|W): .*(signature|not signed)' "$work/refused.log" | sed 's/^/    /'
        # shellcheck disable=SC2310 # as above
        ! apt_in_root install --no-install-recommends qvx-dkms >>"$work/refused.log" 2>&1 || fail "apt installed from it"
        same "what is installed of it" "$(in_root dpkg-query -W -f '${Package} ' 'liblistcore*' 'qvx*' 2>/dev/null)" ""
        rm -r "$root/srv/foreign"
        sed -i 's,/srv/foreign,/srv/qvx,' "$root/etc/apt/sources.list.d/qvx.list"
        logged "$work/update-old.log" "apt update could not read the repository" apt_in_root update
        from=(liblistcore liblistcore-dev qvx-tools qvx-dkms)
    fi
    apt_install "$work/install-old.log" "apt could not install the release $lower" "${from[@]}" "${headers[@]}"
    dkms_said "$work/install-old.log" "install of $lower"
    same "dkms status at $lower" "$(in_root dkms status)" "$(dkms_installed "$lower" "$kernel")"
    check_group "at $lower"
    gid_before=$gid
    if [ "$run" = repo ]; then
        publish keys qvx "${debs[@]}"
        logged "$work/update.log" "apt update could not read the repository" apt_in_root update
        same "what apt update said of the repository" "$(grep -hE '^(W|E): ' "$work/update-old.log" "$work/update.log")" ""
        logged "$work/install.log" "apt could not upgrade the packages" apt_in_root upgrade
    else
        apt_install "$work/install.log" "apt could not upgrade the packages" "${debs[@]}"
    fi
    dkms_said "$work/install.log" upgrade
    same "the versions after the upgrade" "$(in_root dpkg-query -W -f '${Version} ' liblistcore liblistcore-dev qvx-tools qvx-dkms)" \
        "$version $version $version $version "
    same "dkms status after the upgrade" "$(in_root dkms status)" "$(dkms_installed "$version" "$kernel")"
    # Of the old version no source, no DKMS record and no module is left:
    # the modules in the kernel's tree are those DKMS built today.
    same "what is left of $lower" "$(cd "$root" && ls -d "usr/src/qvx-$lower" "var/lib/dkms/qvx/$lower" 2>/dev/null)" ""
    built=/var/lib/dkms/qvx/$version/$kernel_release/$(kernel_machine "$kernel")/module
    found=$(cd "$root" && find usr/lib/modules -name 'turnpair.ko*' -o -name 'qvx_device.ko*' | LC_ALL=C sort)
    same "the modules in /lib/modules" "$(echo "$found" | sed 's,.*/,,' | tr '\n' ' ')" \
        "$(cd "$root$built" && ls | LC_ALL=C sort | tr '\n' ' ')"
    for f in $found; do
        cmp -s "$root/$f" "$root$built/${f##*/}" || fail "/$f is not the module DKMS built at $version"
    done
    # The group the release made is kept, and nothing is said of it.
    check_group "after the upgrade"
    same "the group's number after the upgrade" "$gid" "$gid_before"
    same "what the upgrade says of the group" "$(grep -i 'group' "$work/install.log" || true)" ""
else
    step "2. the rule unpacked after the group is there; apt install of the packages and the $kernel_release headers; a kernel's headers later"
    # udev resolves the rule's group when it reads the rule, which may be at
    # any time once it is unpacked.
    logged "$work/unpack.log" "dpkg could not unpack qvx-dkms" in_root dpkg --unpack "/$(cd "$root" && echo tmp/debs/qvx-dkms_"$version"_*.deb)"
    [ -f "$root$rule" ] || fail "no udev rule once qvx-dkms is unpacked"
    check_group "once the rule is unpacked"
    said=$(grep -i 'group' "$work/unpack.log" || true) want=
    [ "$run" != group ] || want="qvx-dkms: using the existing group qvx (gid 1000), which is not a system group"
    same "what the install says of the group" "$said" "$want"
    apt_install "$work/install.log" "apt could not install the packages" "${debs[@]}" "${headers[@]}"
    dkms_said "$work/install.log" install
    same "dkms status" "$(in_root dkms status)" "$(dkms_installed "$version" "$kernel")"

    # A kernel's headers arriving after the package: the headers' own hook has
    # DKMS build both modules for it.
    logged "$work/remove.log" "dkms remove failed" in_root dkms remove "qvx/$version" --all
    dkms_said "$work/remove.log" "dkms remove"
    logged "$work/add.log" "dkms add failed" in_root dkms add "qvx/$version"
    dkms_said "$work/add.log" "dkms add"
    same "dkms status, no headers yet" "$(in_root dkms status)" "qvx/$version: added"
    # shellcheck disable=SC2310 # in_root is one command
    in_root /etc/kernel/header_postinst.d/dkms "$kernel_release" >"$work/hook.log" 2>&1 ||
        { cat "$work/hook.log"; fail "the headers' DKMS hook"; }
    dkms_said "$work/hook.log" "the headers' hook"
    same "dkms status after the headers' hook" "$(in_root dkms status)" "$(dkms_installed "$version" "$kernel")"
fi
echo "built by $(sed 's/ (.*//' "$kernel/compiler"), with $(in_root dkms --version)"

step "3. the installed programs, man's pages, DKMS's modules"
# The upgrade leaves the files a fresh install puts in place, whose builds
# the other runs check.
# shellcheck disable=SC2310 # in_root is one command
if [ -z "$upgrade" ]; then
    # man's pages and selfbuild, with the checks they take as they lie in
    # tests/. The list built from the installed files, fifodrain and devpoke
    # are debian/tests' build and tools, which package.<release>.autopkgtest
    # runs on both releases.
    mkdir -p "$root/tmp/t" "$root/tmp/kernel_modules"
    cp "$top/tests/install/consumers.sh" "$root/tmp/t/"
    cp "$top/tests/checks.sh" "$root/tmp/" && cp "$top/tests/kernel_modules/marks.sh" "$root/tmp/kernel_modules/"
    in_root env QVX_VERSION="$version" bash /tmp/t/consumers.sh programs /usr - - /tmp/t/programs ||
        fail "the installed selfbuild, or man's pages"
fi
same "pkg-config's version" "$(in_root pkg-config --modversion listcore)" "$version"
# Built with Debian's flags, they still need libc alone.
for f in usr/bin/devpoke usr/bin/fifodrain usr/bin/selfbuild usr/lib/x86_64-linux-gnu/liblistcore.so; do
    same "libraries of /$f" "$(needed "$root/$f")" "[libc.so.6] "
done
modules=/lib/modules/$kernel_release/updates/dkms
for module in turnpair qvx_device; do
    # Where the kernel's own are compressed, DKMS compresses them alike.
    file=$(cd "$root$modules" && ls "$module".ko* 2>/dev/null || true)
    same "modprobe $module" "$(in_root modprobe -S "$kernel_release" --show-depends $module)" "insmod $modules/${file:-$module.ko} "
    case $file in
    *.ko) cp "$root$modules/$file" "$work/$module.ko" ;;
    *.ko.xz) xz -dc "$root$modules/$file" >"$work/$module.ko" ;;
    *.ko.zst) zstd -qdc "$root$modules/$file" >"$work/$module.ko" ;;
    *) fail "no $module module in $modules" ;;
    esac
done
same "modules loaded at boot" "$(in_root sh -c 'grep -rlsE "turnpair|qvx_device" /etc/modules* /usr/lib/modules-load.d')" ""
# Who may open the device: the udev rule, and the group it names.
same "the udev rule" "$(grep -v '^#' "$root$rule")" 'KERNEL=="qvx_device", SUBSYSTEM=="misc", GROUP="qvx", MODE="0660"'
same "the group qvx" "$(in_root getent group qvx | cut -d: -f3)" "$gid"

if [ "$run" = boot ]; then
    step "4. the root booted under qemu as a real system: its Linux $kernel_release, systemd, udev"
    # The runner installs the modules test's Depends first: here they are.
    for dep in $(sed -n '/^Tests: modules$/,/^$/s/^Depends: //p' "$top/debian/tests/control" | tr -d ,); do
        # shellcheck disable=SC2310 # in_root is one command
        same "the modules test's dependency $dep" "$(in_root dpkg-query -W -f '${db:Status-Status}' "$dep" 2>/dev/null || true)" installed
    done
    # A disk made from the root without privilege, its files root's as the
    # root sees them.
    truncate -s $(($(du -sm "$root" | cut -f1) + 512))M "$work/disk.img"
    # shellcheck disable=SC2310 # as_root_of_root is one command
    as_root_of_root mke2fs -q -t ext4 -d "$root" "$work/disk.img" || die "mke2fs could not make the disk"
    status=0
    timeout "$VM_SYSTEM_LIMIT" qemu-system-x86_64 -accel tcg -m 1024 -smp 2 \
        -kernel "$root/boot/vmlinuz-$kernel_release" -initrd "$root/boot/initrd.img-$kernel_release" \
        -append "root=/dev/vda rw console=ttyS0 quiet" -drive file="$work/disk.img",format=raw,if=virtio \
        -display none -serial file:"$work/console.raw" -no-reboot </dev/null || status=$?
    tr -d '\r' <"$work/console.raw" >"$work/console"
    rm "$work/disk.img"
    ended=$(after "scenario end at" "$work/console")
    [ -n "$ended" ] || die_with_log "$work/console" "the checks did not run to their end in the booted system \
(qemu status $status$([ $status -ne 124 ] || echo ": out of its $VM_SYSTEM_LIMIT s, VM_SYSTEM_LIMIT"))"
    same "the booted kernel" "$(after kernel "$work/console")" "$kernel_release"
    same "dkms status in the booted system" "$(after dkms "$work/console")" "$(dkms_installed "$version" "$kernel")"
    # Its turnpair and devpoke checks, run there on what the console shows.
    same "debian/tests/modules's status in the booted system" "$(after 'modules test status' "$work/console")" 0
    echo "turnpair's first cycle in the journal (journalctl -k), its first and last lines:"
    between cycle1 "$work/console" | sed -n '1,4p;$p' | sed 's/^/    /'
    { [ $status -eq 0 ] && grep -q 'reboot: Power down' "$work/console"; } ||
        fail "the booted system did not power off by itself (qemu status $status)"
    echo "the booted system's checks began $(after "scenario begin at" "$work/console") and ended $ended after boot"
elif [ -z "$upgrade" ]; then
    # After an upgrade, the modules are today's (above), which the other runs
    # run in both kernels.
    step "4. DKMS's modules in Linux $kernel_release under qemu"
    bash "$top/tests/kernel_modules/turnpair_test.sh" "$kernel" 2 "$work/turnpair.ko" || fail "turnpair as DKMS built it"
    bash "$top/tests/device_client/devpoke_test.sh" vm "$kernel" 1 "$root/usr/bin/devpoke" "$work/qvx_device.ko" ||
        fail "devpoke with qvx_device as DKMS built it"
fi

step "5. apt purge"
logged "$work/purge.log" "apt could not purge the packages" apt_in_root purge liblistcore liblistcore-dev qvx-tools qvx-dkms
dkms_said "$work/purge.log" purge
[ ! -e "$root$rule" ] || fail "the udev rule is left after the purge"
same "the group qvx after the purge (kept, as system groups are)" "$(in_root getent group qvx | cut -d: -f3)" "$gid"
# Left over may be only the headers' files, the kernel's module index
# that depmod rebuilt when DKMS took the modules away (which a system with
# that kernel has anyway), the key DKMS made at its first build to sign the
# modules it builds (any DKMS module's), and what adding the group qvx, which
# stays, left: the group file's backup and adduser's lock. Packages name /lib,
# /bin and /sbin for their merged /usr places.
mapfile -t header_packages < <(for deb in "${headers[@]}"; do dpkg-deb -f "$deb" Package; done)
in_root dpkg-query -L "${header_packages[@]}" |
    sed -E 's,^/(lib|bin|sbin)/,/usr/\1/,' | LC_ALL=C sort >"$work/headers"
# A listing cut short by an error would hide what is left: it fails.
# shellcheck disable=SC2310 # snapshot is one pipeline
snapshot >"$work/after" || die "could not list what the purge left in the $release root"
left=$(LC_ALL=C comm -13 "$work/before" "$work/after" | LC_ALL=C comm -23 - "$work/headers" |
    grep -vE "^/usr/lib/modules/$kernel_release/modules\.[a-z.]+$|^/var/lib/dkms/mok\.(key|pub)$|^/etc/gshadow-$|^/run/adduser$|^/srv/qvx(/|$)|^/etc/apt/sources.list.d/qvx.list$|^/etc/apt/keyrings(/qvx-archive-keyring.gpg)?$" ||
    true)
[ -z "$left" ] || fail "left behind after the purge:$(echo; echo "$left" | head -n 20)"

finish "the packages on $release ($run), as installed, used and purged: all checks passed ($SECONDS s)"
