#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# scripts/repo.sh's keys and failures, with apt reading the repository as a
# user who took its key from the publisher's gpg (no root, no VM needed):
#   repo_test.sh <source folder> <scratch>
# Each row publishes a package; a refusal or a failure must leave the
# repository as it was (names, times and bytes), and apt update still reads
# it. The user's key is protected, and no pinentry can ask for it here.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../checks.sh"
top=$1 work=$2
. "$top/shell/common.sh"
rm -rf "$work" && mkdir -p "$work/user" "$work/apt/lists/partial" && cd "$work" && chmod 700 user
export GNUPGHOME=$work/user
trap 'gpgconf --kill gpg-agent 2>/dev/null || true' EXIT
echo pinentry-program /bin/false >user/gpg-agent.conf && echo secret >passphrase
gpg --batch --quiet --pinentry-mode loopback --passphrase secret --quick-gen-key "a user's protected key" ed25519 sign never
user=$(gpg --batch --quiet --with-colons --list-secret-keys | awk -F: '$1 == "fpr" { print $10; exit }')
for v in 1 2 3; do
    mkdir -p p$v/DEBIAN && printf '%s\n' "Package: qvx-probe" "Version: $v" "Architecture: all" \
        "Maintainer: qvx <qvx@example.org>" "Description: probe" >p$v/DEBIAN/control && dpkg-deb -b p$v p$v.deb >/dev/null
done
state() { (cd repo && find . -mindepth 1 -printf '%p %T@\n' && find . -type f -exec sha256sum {} +) | LC_ALL=C sort; }
echo "deb [signed-by=$work/apt/key.gpg] file:$work/repo ./" >apt/sources.list
apt=(apt-get -o Dir::Etc::SourceList="$work/apt/sources.list" -o Dir::Etc::SourceParts=- -o Dir::State::Lists="$work/apt/lists"
    -o Dir::State::Status=/dev/null -o Dir::Cache="$work/apt" -o Debug::NoLocking=1 -o APT::Sandbox::User="$(id -un)")
# <failed: 0/1> <XDG_DATA_HOME> <deb> <what it says, a regular expression> <options>
while read -r want xdg deb said options; do
    gpgconf --kill gpg-agent # nothing cached from the row before
    # shellcheck disable=SC2310 # state is one pipeline (none before the first publish)
    before=$(state 2>/dev/null || true) status=0
    # shellcheck disable=SC2086 # the options' words
    XDG_DATA_HOME=$work/$xdg "$top/scripts/repo.sh" ${options//USER/$user} repo "$deb" >out 2>&1 || status=$?
    said=${said//OWN/$(cat own/qvx/repo-key/fingerprint)} && said=${said//USER/$user}
    grep -q "$said" out && [ $((status > 0)) = "$want" ] || fail "$options $deb as $xdg: status $status, said $(cat out)"
    [ "$want" = 0 ] || same "the repository after: $(tail -n 1 out)" "$(state)" "$before"
    [ "$want" = 1 ] || case $options in *USER*) gpg --export "$user" ;; *) gpg --homedir own/qvx/repo-key --export ;; esac >apt/key.gpg
    logged apt.log "apt update after $options $deb" "${apt[@]}" update
    same "what apt update said after $options $deb" "$(grep -E '^(W|E):' apt.log)" ""
done <<EOF
0 own p1.deb signed.by.the.key.OWN
1 other p2.deb signed.by.the.key.OWN,.and.there.is.no.key.in
1 own p2.deb signed.by.the.key.OWN,.not.by.USER --key USER
0 own p2.deb re-keying.repo.from.OWN.to.USER --key USER --passphrase-file passphrase --rekey
1 own p3.deb could.not.sign.the.index.with.USER --key USER
EOF
same "what apt has" "$(apt-cache "${apt[@]:1}" madison qvx-probe | cut -d'|' -f2 | tr -d ' ' | tr '\n' ' ')" "2 1 "
finish "repo.sh: refusals and a failed signing left the repository as it was, and apt read it each time"
