#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# cmake/version.sh in a scratch clone of this tree's history, at today's
# version.sh: after each row's step, the version has the row's form and
# sorts above the one before (dpkg --compare-versions).
#   version_test.sh <source folder> <scratch>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../checks.sh"
top=$1 work=$2
. "$top/shell/common.sh"
rm -rf "$work"
git clone -q --no-checkout "$top" "$work" && cd "$work" && git checkout -q "$(git -C "$top" rev-parse HEAD)"
export GIT_AUTHOR_NAME=qvx GIT_AUTHOR_EMAIL=qvx@example.org GIT_COMMITTER_NAME=qvx GIT_COMMITTER_EMAIL=qvx@example.org
cp "$top/cmake/version.sh" cmake/ && cp "$top/shell/common.sh" shell/ && git add -A && git commit -qm "today's version.sh" --allow-empty
R=$(sed -n 's/^project([^ ]* VERSION \([^ )]*\).*/\1/p' CMakeLists.txt) R=${R//./\\.} H='\.g[0-9a-f]{10}' D='\.d[0-9]{14}'
last=0
while IFS='|' read -r step want; do
    eval "$step"
    got=$(cmake/version.sh 2>/dev/null)
    [[ $got =~ ^$want$ ]] || fail "after '$step': $got is not of the form $want"
    dpkg --compare-versions "$got" gt "$last" || fail "after '$step': $got does not sort above $last"
    last=$got
done <<EOF
:|$R\+[0-9]+$H
echo a >>README.md|$R\+[0-9]+$H$D
sleep 1 && echo b >new|$R\+[0-9]+$H$D
git add -A && git commit -qm changes|$R\+[0-9]+$H
sed -i 's/\(^project(.* VERSION \)[^ )]*/\19.0.0/' CMakeLists.txt && git commit -qam bump|9\.0\.0~[0-9]+$H
git commit -qm next --allow-empty|9\.0\.0~[0-9]+$H
sed -i '1i qvx (9.0.0) unstable; urgency=medium\n\n  * 9.0.0.\n\n -- qvx <qvx@example.org>  Fri, 01 Jan 2027 00:00:00 +0000\n' debian/changelog && git commit -qam 9.0.0|9\.0\.0
git commit -qm after --allow-empty|9\.0\.0\+1$H
EOF
git reset -q --hard HEAD~3
same "the entry of a build before a release's entry" "$(cmake/version.sh --entry | sed 's/[0-9a-f]\{40\}/H/; s/[0-9]\+ commits/N commits/')" \
    "Built from commit H, N commits after the release ${R//\\/}, before the release 9.0.0."
finish "versions: a tree with changes, a release raised before its entry and the release itself sort as they came"
