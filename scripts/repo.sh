#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Publishes Debian packages into the signed apt repository in a folder,
# made there the first time (scripts/package.sh --repo calls it):
#   scripts/repo.sh [--key <key> [--passphrase-file <file>]] [--rekey] <folder> <deb>...
# The folder is a flat repository: the packages, every version published
# kept; their index, Packages; Release, its checksums, made by apt-ftparchive;
# InRelease, Release signed inline by gpg; and qvx-archive-keyring.gpg, the
# signing key's public part, by which a publish knows the repository's key.
# Users take that key once by a way they trust (not from the folder it
# protects), check its fingerprint, which each publish prints, and add
#   deb [signed-by=/etc/apt/keyrings/qvx-archive-keyring.gpg] file:<folder> ./
# (or its URL where a web server serves the folder); apt upgrade then takes
# each build published later.
# It is signed by the key <key> names in the user's own gpg keyring (a user
# ID or fingerprint), or else by a key of its own, made the first time
# without a passphrase and kept, with the gpg home that holds it, in
# ${XDG_DATA_HOME:-~/.local/share}/qvx/repo-key (mode 0700). A protected
# <key>'s passphrase is asked by the user's gpg agent (its pinentry), or
# read from <file> (its first line; gpg's loopback pinentry), for runs
# without anyone to ask: keep that file the user's alone (mode 0600).
# A signer other than the repository's key is refused, both named, unless
# --rekey: every machine that added the repository must then take the new
# key. The new index is made and signed in a folder beside the old one and
# moved into place once all of it succeeded: a publish that fails leaves the
# repository as it was.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
ME=repo.sh
. "$top/shell/common.sh"
usage="usage: scripts/repo.sh [--key <key> [--passphrase-file <file>]] [--rekey] <folder> <deb>..."
key='' passfile='' rekey=''
while [ $# -gt 0 ]; do
    case $1 in
    --key | --passphrase-file)
        [ $# -ge 2 ] || die "$usage"
        if [ "$1" = --key ]; then key=$2; else passfile=$(realpath -e "$2") || die "no passphrase file $2"; fi
        shift 2
        ;;
    --rekey) rekey=1 && shift ;;
    -*) die "$usage" ;;
    *) break ;;
    esac
done
[ $# -ge 2 ] || die "$usage"
[ -z "$passfile" ] || [ -n "$key" ] || die "--passphrase-file goes with --key: $usage"
dir=$1
shift
for tool in apt-ftparchive gpg gpgv; do
    command -v $tool >/dev/null || die "$tool is missing: run scripts/setup.sh"
done
for deb; do
    [ -f "$deb" ] && dpkg-deb -f "$deb" Package >/dev/null 2>&1 || die "$deb is not a Debian package"
done
keyring=qvx-archive-keyring.gpg
# fingerprints <gpg words>...: the fingerprints of the primary keys gpg lists.
fingerprints() { "$1" --with-colons "${@:2}" | awk -F: '$1 ~ /^(pub|sec)$/ { p = 1 } $1 == "fpr" && p { print $10; p = 0 }'; }

# On the way out: the staging folder, the folder made for a repository that
# did not come to be, and the own key's agent.
stage='' made='' home='' look=''
finish() {
    rm -rf "$stage" "$look"
    [ -z "$made" ] || rmdir "$dir" 2>/dev/null || true
    [ -z "$home" ] || gpgconf --homedir "$home" --kill gpg-agent 2>/dev/null || true
}
trap finish EXIT
trap 'exit 1' INT TERM HUP

# The repository's key, by its public part in the folder (read by a gpg
# home of its own, which no one's keyring gains from).
had=''
if [ -f "$dir/$keyring" ]; then
    look=$(mktemp -d)
    # shellcheck disable=SC2310 # fingerprints is one pipeline
    had=$(fingerprints gpg --batch --quiet --homedir "$look" --show-keys "$dir/$keyring") && [ -n "$had" ] ||
        die "$dir/$keyring holds no key: is $dir a repository of scripts/repo.sh?"
fi

gpg=(gpg --batch --quiet)
[ -z "$passfile" ] || gpg+=(--pinentry-mode loopback --passphrase-file "$passfile")
if [ -z "$key" ]; then
    home=${XDG_DATA_HOME:-$HOME/.local/share}/qvx/repo-key
    gpg+=(--homedir "$home")
    if [ ! -s "$home/fingerprint" ]; then
        # A key made here would not be the repository's.
        [ -z "$had" ] || [ -n "$rekey" ] || die "$dir is signed by the key $had, and there is no key in $home to sign \
with: publish as the user (and with the XDG_DATA_HOME) that holds it, or give it with --key; --rekey makes a new key \
here and signs with it, after which every machine that added $dir must take the new key"
        mkdir -p "$home" && chmod 700 "$home"
        "${gpg[@]}" --pinentry-mode loopback --passphrase '' \
            --quick-gen-key "qvx packages of $(id -un)@$(hostname)" ed25519 sign never ||
            die "gpg could not make the repository's key in $home"
        fingerprints "${gpg[@]}" --list-secret-keys >"$home/fingerprint"
        echo "$ME: made the repository's key $(cat "$home/fingerprint"), kept in $home"
    fi
    key=$(cat "$home/fingerprint")
fi
# shellcheck disable=SC2310 # as above
signer=$(fingerprints "${gpg[@]}" --list-secret-keys "$key" 2>/dev/null) || true
[ -n "$signer" ] || die "gpg has no secret key '$key' to sign with"
[ "$(echo "$signer" | wc -l)" -eq 1 ] || die "'$key' names several keys: $(echo "$signer" | tr '\n' ' ')give one's fingerprint"
if [ -n "$had" ] && [ "$had" != "$signer" ]; then
    [ -n "$rekey" ] || die "$dir is signed by the key $had, not by $signer: sign with $had, or give --rekey to \
sign with $signer from now on (every machine that added $dir must then take the new key)"
    echo "$ME: re-keying $dir from $had to $signer: every machine that added it must take the new key"
fi

[ -d "$dir" ] || { mkdir -p "$dir" && made=1; }
dir=$(cd "$dir" && pwd)
stage=$(mktemp -d "$dir/.publish.XXXXXX")
# The packages published before and those added, side by side in the
# staging folder (links to the published ones), and their index.
for deb in "$dir"/*.deb; do
    [ ! -f "$deb" ] || ln "$deb" "$stage/" 2>/dev/null || cp -p "$deb" "$stage/" || die "could not stage $deb"
done
for deb; do
    # A version is one build: another build under the same name would not
    # reach those who have the first.
    name=${deb##*/}
    if [ -f "$dir/$name" ] && ! cmp -s "$deb" "$dir/$name"; then
        die "$dir holds another build of $name: publish a build of a later commit"
    fi
    [ -f "$dir/$name" ] || cp "$deb" "$stage/" || die "could not stage $deb"
done
cd "$stage"
apt-ftparchive packages . >Packages || die "apt-ftparchive could not index the packages"
apt-ftparchive -o APT::FTPArchive::Release::Origin=qvx -o APT::FTPArchive::Release::Label=qvx release . >Release ||
    die "apt-ftparchive could not make Release"
"${gpg[@]}" --local-user "$signer" --digest-algo SHA512 --clearsign -o InRelease Release ||
    die "gpg could not sign the index with $signer${passfile:+ (with the passphrase in $passfile)}: $dir is as it was"
"${gpg[@]}" -o "$keyring" --export "$signer" || die "gpg could not export $signer"
gpgv --quiet --keyring "./$keyring" InRelease 2>/dev/null || die "InRelease does not verify with $keyring"

# All of it made: the new packages first, the signed index last.
for deb; do
    [ -f "$dir/${deb##*/}" ] || mv "${deb##*/}" "$dir/"
done
mv "$keyring" Packages Release InRelease "$dir/"
made=''
echo "$ME: $(grep -c '^Package:' "$dir/Packages") packages in $dir, signed by the key $signer"
