#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The version a build of this tree carries, and the releases before it:
#   scripts/version.sh              the build's version
#   scripts/version.sh --previous   "<version> <commit>": the newest release
#                                   older than the build, and the commit that
#                                   released it (nothing when there is none)
# The release is project(VERSION) in the top CMakeLists.txt; a release is
# the commit that adds its entry to debian/changelog (whose entries are the
# releases alone). A build from a later commit is <release>+<n>.g<hash>, n
# being the commits since the release: dpkg sorts it above the release and
# above every earlier commit's build, and the next release above it. A tree
# without git history (an unpacked tarball) builds as the release, and says
# so on standard error.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
ME=version.sh
. "$top/shell/common.sh"

release=$(sed -n 's/^project([^ ]* VERSION \([^ )]*\).*/\1/p' "$top/CMakeLists.txt")
[ -n "$release" ] || die "no project(... VERSION ...) in $top/CMakeLists.txt"
# Only the tree's own history counts: a tree unpacked inside another
# checkout (the package build's copies) has none; a shallow clone's is cut.
toplevel=$(git -C "$top" rev-parse --show-toplevel 2>/dev/null || true)
shallow=$(git -C "$top" rev-parse --is-shallow-repository 2>/dev/null || true)
# released <version>: the commit that released it, if it is in the history.
# Every build until 1.1.0 was numbered 1.0.0; the one taken as 1.0.0 is the
# last whose qvx-dkms made the group qvx in its postinst.
released() {
    if [ "$1" = 1.0.0 ]; then
        git -C "$top" rev-parse -q --verify '0719c04^{commit}' || true
    else
        git -C "$top" log --format=%H -S"qvx ($1)" -- debian/changelog | tail -n 1
    fi
}

if [ "$toplevel" != "$top" ] || [ "$shallow" != false ]; then
    echo "$ME: no git history in $top: built as the release $release" >&2
    [ "${1-}" = --previous ] || echo "$release"
    exit 0
fi
commit=$(released "$release")
version=$release
# A release whose entry is not committed yet is the release being made.
if [ -n "$commit" ] && [ "$(git -C "$top" rev-list --count "$commit..HEAD")" -gt 0 ]; then
    version=$release+$(git -C "$top" rev-list --count "$commit..HEAD").g$(git -C "$top" rev-parse --short=10 HEAD)
fi
case ${1-} in
"") echo "$version" ;;
--previous)
    for v in $(sed -n 's/^qvx (\([^)]*\)).*/\1/p' "$top/debian/changelog"); do
        if dpkg --compare-versions "$v" lt "$version"; then
            c=$(released "$v")
            [ -z "$c" ] || echo "$v $c"
            exit 0
        fi
    done
    ;;
*) die "usage: scripts/version.sh [--previous]" ;;
esac
