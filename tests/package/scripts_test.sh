#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The packages' machinery alone, as an ordinary user (no root, no VM):
#   scripts_test.sh repo <source folder> <scratch>
# scripts/repo.sh, a row a publish: a refusal or a failed signing leaves the
# repository as it was (names, times, bytes), and apt, the key taken from
# its publisher by the fingerprint printed, reads it after each. The user's
# key is protected; no pinentry can ask for it here.
#   scripts_test.sh version <source folder> <scratch>
# cmake/version.sh in a scratch clone, a row a step: the version has the
# row's form and sorts above the one before.
set -euo pipefail
. "$(dirname "$0")/../checks.sh"
top=$2 work=$3
. "$top/shell/common.sh"
rm -rf "$work"
mkdir -p "$work/apt/lists/partial"
cd "$work"
if [ "$1" = repo ]; then
    mkdir -m 700 user
    export GNUPGHOME=$work/user && trap 'gpgconf --kill gpg-agent' EXIT
    echo pinentry-program /bin/false >user/gpg-agent.conf && echo secret >passphrase
    gpg --batch --quiet --pinentry-mode loopback --passphrase secret --quick-gen-key "a user's protected key" ed25519 sign never
    user=$(gpg --batch --quiet --with-colons --list-secret-keys | awk -F: '$1 == "fpr" { print $10; exit }')
    for v in 1 2 3; do
        mkdir -p p$v/DEBIAN && printf '%s\n' "Package: qvx-probe" "Version: $v" "Architecture: all" \
            "Maintainer: qvx <qvx@example.org>" "Description: probe" >p$v/DEBIAN/control && dpkg-deb -b p$v p$v.deb >/dev/null
    done
    state() { (cd repo && find . -mindepth 1 -printf '%p %T@\n' && find . -type f -exec sha256sum {} +) | LC_ALL=C sort; }
    echo "deb [signed-by=$work/key.gpg] file:$work/repo ./" >sources.list
    apt=(-o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=- -o Dir::State::Lists="$work/apt/lists"
        -o Dir::State::Status=/dev/null -o Dir::Cache="$work/apt" -o Debug::NoLocking=1 -o APT::Sandbox::User="$(id -un)")
    # <failed: 0/1> <XDG_DATA_HOME> <deb> <what it says, a regular expression> <options>
    while read -r want xdg deb said options; do
        gpgconf --kill gpg-agent # nothing cached from the row before
        # shellcheck disable=SC2310 # state is one pipeline (none before the first publish)
        before=$(state 2>/dev/null || true) status=0
        # shellcheck disable=SC2086 # the options' words
        XDG_DATA_HOME=$work/$xdg "$top/scripts/repo.sh" ${options//USER/$user} repo "$deb" >out 2>&1 || status=$?
        said=${said//OWN/$(cat own/qvx/repo-key/fingerprint)} fpr=$(sed -n 's/.* signed by the key //p' out)
        grep -q "${said//USER/$user}" out && [ $((status > 0)) = "$want" ] || fail "$options $deb as $xdg: status $status, said $(cat out)"
        [ "$want" = 0 ] || same "the repository after: $(tail -n 1 out)" "$(state)" "$before"
        [ "$want" = 1 ] || { gpg -q --homedir own/qvx/repo-key --export "$fpr" && gpg -q --export "$fpr"; } >key.gpg 2>/dev/null
        logged apt.log "apt update after $options $deb" apt-get "${apt[@]}" update
        same "what apt update said after $options $deb" "$(grep -E '^(W|E):' apt.log)" ""
    done <<EOF
0 own p1.deb signed.by.the.key.OWN
1 other p2.deb signed.by.the.key.OWN,.and.there.is.no.key.in
1 own p2.deb signed.by.the.key.OWN,.not.by.USER --key USER
0 own p2.deb re-keying.repo.from.OWN.to.USER --key USER --passphrase-file passphrase --rekey
1 own p3.deb could.not.sign.the.index.with.USER --key USER
EOF
    same "what apt has" "$(apt-cache "${apt[@]}" madison qvx-probe | cut -d'|' -f2 | tr -d ' ' | tr '\n' ' ')" "2 1 "
    finish "repo.sh: refusals and a failed signing left the repository as it was, and apt read it each time"
fi

git clone -q --no-checkout "$top" r || die "could not clone $top"
cd r
git checkout -q "$(git -C "$top" rev-parse HEAD)"
export GIT_AUTHOR_NAME=qvx GIT_AUTHOR_EMAIL=qvx@example.org GIT_COMMITTER_NAME=qvx GIT_COMMITTER_EMAIL=qvx@example.org
cp "$top/cmake/version.sh" cmake/
cp "$top/shell/common.sh" shell/
git add -A
git commit -qm "today's version.sh" --allow-empty
R=$(sed -n 's/^project([^ ]* VERSION \([^ )]*\).*/\1/p' CMakeLists.txt) H='\.g[0-9a-f]{10}' D='\.d[0-9]{14}' last=0
while IFS= read -r row; do
    step=${row%|*} want=${row##*|} && eval "$step" && got=$(cmake/version.sh 2>/dev/null)
    [[ $got =~ ^$want$ ]] && dpkg --compare-versions "$got" gt "$last" || fail "after '$step': $got, not $want above $last"
    last=$got
done <<EOF
:|${R//./\\.}\+[0-9]+$H
echo a >>README.md|${R//./\\.}\+[0-9]+$H$D
sleep 1 && echo b >new|${R//./\\.}\+[0-9]+$H$D
git add -A && git commit -qm changes|${R//./\\.}\+[0-9]+$H
sed -i 's/\(^project(.* VERSION \)[^ )]*/\19.0.0/' CMakeLists.txt && git commit -qam bump|9\.0\.0~[0-9]+$H
git commit -qm next --allow-empty && cmake/version.sh --entry | grep -q "after the release $R, before the release 9.0.0.$"|9\.0\.0~[0-9]+$H
sed -i '1i qvx (9.0.0) unstable; urgency=medium\n\n  * 9.0.0.\n\n -- qvx <qvx@example.org>  Fri, 01 Jan 2027 00:00:00 +0000\n' debian/changelog && git commit -qam 9.0.0|9\.0\.0
git commit -qm after --allow-empty|9\.0\.0\+1$H
EOF
finish "versions: a tree with changes, a release raised before its entry and the release itself sort as they came"
