#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Publishes Debian packages into the signed apt repository in a folder,
# made there the first time (scripts/package.sh --repo calls it):
#   scripts/repo.sh [--key <key>] <folder> <deb>...
# The folder is a flat repository: the packages, every version published
# kept; their index, Packages; Release, its checksums, made by apt-ftparchive;
# and InRelease, Release signed inline by gpg. Users add it once
#   deb [signed-by=<folder>/qvx-archive-keyring.gpg] file:<folder> ./
# (or its URL where a web server serves the folder); apt upgrade then takes
# each build published later. It is signed by the key <key> names in the
# user's own gpg keyring (a user ID or fingerprint), or else by a key of its
# own, made the first time without a passphrase and kept, with the gpg home
# that holds it, in ${XDG_DATA_HOME:-~/.local/share}/qvx/repo-key (mode 0700).
# Its public part is written into the folder as qvx-archive-keyring.gpg.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
ME=repo.sh
. "$top/shell/common.sh"
usage="usage: scripts/repo.sh [--key <key>] <folder> <deb>..."
key=
if [ "${1-}" = --key ]; then
    [ $# -ge 2 ] || die "$usage"
    key=$2
    shift 2
fi
[ $# -ge 2 ] || die "$usage"
dir=$1
shift
for tool in apt-ftparchive gpg; do
    command -v $tool >/dev/null || die "$tool is missing: run scripts/setup.sh"
done
for deb; do
    [ -f "$deb" ] && dpkg-deb -f "$deb" Package >/dev/null 2>&1 || die "$deb is not a Debian package"
done

gpg=(gpg --batch --quiet --pinentry-mode loopback --passphrase '')
if [ -z "$key" ]; then
    home=${XDG_DATA_HOME:-$HOME/.local/share}/qvx/repo-key
    gpg+=(--homedir "$home")
    if [ ! -s "$home/fingerprint" ]; then
        mkdir -p "$home" && chmod 700 "$home"
        "${gpg[@]}" --quick-gen-key "qvx packages of $(id -un)@$(hostname)" ed25519 sign never ||
            die "gpg could not make the repository's key in $home"
        "${gpg[@]}" --list-secret-keys --with-colons | awk -F: '$1 == "fpr" { print $10; exit }' >"$home/fingerprint"
        echo "$ME: made the repository's key $(cat "$home/fingerprint"), kept in $home"
    fi
    key=$(cat "$home/fingerprint")
    # Its agent ends with the publishing.
    trap 'gpgconf --homedir "$home" --kill gpg-agent 2>/dev/null || true' EXIT
fi
"${gpg[@]}" --list-secret-keys "$key" >/dev/null 2>&1 || die "gpg has no secret key '$key' to sign with"

mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
for deb; do
    # A version is one build: another build under the same name would not
    # reach those who have the first.
    name=${deb##*/}
    if [ -f "$dir/$name" ] && ! cmp -s "$deb" "$dir/$name"; then
        die "$dir holds another build of $name: publish a build of a later commit"
    fi
    cp "$deb" "$dir/"
done
cd "$dir"
rm -f Release InRelease
apt-ftparchive packages . >Packages || die "apt-ftparchive could not index $dir"
release=$(apt-ftparchive -o APT::FTPArchive::Release::Origin=qvx -o APT::FTPArchive::Release::Label=qvx release .) ||
    die "apt-ftparchive could not make $dir/Release"
echo "$release" >Release
"${gpg[@]}" --yes --local-user "$key" --digest-algo SHA512 --clearsign -o InRelease Release ||
    die "gpg could not sign $dir/Release with $key"
"${gpg[@]}" --yes -o qvx-archive-keyring.gpg --export "$key"
echo "$ME: $(grep -c '^Package:' Packages) packages in $dir, signed by $key"
