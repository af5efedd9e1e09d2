#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The version a build of this tree carries, and the releases before it; the
# top CMakeLists.txt, scripts/package.sh and the package test call it:
#   cmake/version.sh              the build's version
#   cmake/version.sh --entry      the sentence of the changelog entry that
#                                 scripts/package.sh writes for a build
#                                 that is not a release
#   cmake/version.sh --previous   "<version> <commit>": the newest release
#                                 older than the build, and the commit that
#                                 released it (nothing when there is none)
# The release is project(VERSION) in the top CMakeLists.txt; a release is
# the commit that adds its entry to debian/changelog (whose entries are the
# releases alone). A build from a later commit is <release>+<n>.g<hash>, n
# being the commits since the release: dpkg sorts it above the release and
# above every earlier commit's build, and the next release above it. Once
# VERSION is raised, until the commit that adds the new release's entry, a
# build is <new release>~<n>.g<hash>, n counting from the release before:
# above every build before it, below the new release. A tree with changes
# not committed (untracked files included) builds as its commit's version
# followed by .d<time>, the time (UTC) of the newest change: above its
# commit's build, below the next commit's, and a later change above an
# earlier one (a release's commit gets +0.g<hash> first). A tree without git
# history (an unpacked tarball) builds as the release, and says so on
# standard error; a VERSION below debian/changelog's newest release stops.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
ME=version.sh
. "$top/shell/common.sh"
usage="usage: cmake/version.sh [--entry | --previous]"
[ $# -le 1 ] && case ${1-} in "" | --entry | --previous) ;; *) false ;; esac || die "$usage"

release=$(sed -n 's/^project([^ ]* VERSION \([^ )]*\).*/\1/p' "$top/CMakeLists.txt")
[ -n "$release" ] || die "no project(... VERSION ...) in $top/CMakeLists.txt"
releases=$(sed -n 's/^qvx (\([^)]*\)).*/\1/p' "$top/debian/changelog")
newest=$(echo "$releases" | head -n 1)
if [ -n "$newest" ] && dpkg --compare-versions "$newest" gt "$release"; then
    die "debian/changelog's newest release is $newest, CMakeLists.txt's VERSION $release: raise VERSION to $newest or above"
fi
# Only the tree's own history counts: a tree unpacked inside another
# checkout (the package build's copies) has none; a shallow clone's is cut.
toplevel=$(git -C "$top" rev-parse --show-toplevel 2>/dev/null || true)
# A checkout git will not read (another user's, say) is no tarball.
[ ! -e "$top/.git" ] || [ "$toplevel" = "$top" ] ||
    die "git does not read the checkout $top: $(git -C "$top" rev-parse --show-toplevel 2>&1 | head -n 1)"
shallow=$(git -C "$top" rev-parse --is-shallow-repository 2>/dev/null || true)
# released <version>: the commit that released it, if it is in the history.
# Every build until 1.1.0 was numbered 1.0.0; the one taken as 1.0.0 is the
# last whose qvx-dkms made the group qvx in its postinst.
released() {
    if [ "$1" = 1.0.0 ]; then
        git -C "$top" rev-parse -q --verify '0719c04e9d51090acb47a83b7f6ad17d27877716^{commit}' || true
    else
        git -C "$top" log --format=%H -S"qvx ($1)" -- debian/changelog | tail -n 1
    fi
}

if [ "$toplevel" != "$top" ] || [ "$shallow" != false ]; then
    echo "$ME: no git history in $top: built as the release $release" >&2
    case ${1-} in "") echo "$release" ;; --entry) echo "Built from a tree without git history." ;; esac
    exit 0
fi
hash=$(git -C "$top" rev-parse HEAD)
commit=$(released "$release") since=$release
if [ -n "$commit" ]; then
    n=$(git -C "$top" rev-list --count "$commit..HEAD")
    version=$release
    [ "$n" -eq 0 ] || version=$release+$n.g${hash:0:10}
else
    # VERSION raised, the release's entry not committed: counted from the
    # newest release in the history.
    since=''
    for v in $releases; do
        commit=$(released "$v")
        [ -z "$commit" ] || { since=$v && break; }
    done
    n=$(git -C "$top" rev-list --count "${commit:+$commit..}HEAD")
    version=$release~$n.g${hash:0:10}
fi
entry="Built from commit $hash, $n commits after the release ${since:-(none)}"
[ "$version" = "${version#*~}" ] || entry+=", before the release $release"
# Changes not committed, and untracked files, which a build takes in too:
# the time of the newest (of the folder that held a deleted file).
newest=$(cd "$top" && { git diff -z --name-only HEAD && git ls-files -z --others --exclude-standard; } |
    while IFS= read -r -d '' f; do
        until [ -e "$f" ] || [ -L "$f" ]; do f=$(dirname "$f"); done
        stat -c %Y -- "$f"
    done | sort -n | tail -n 1)
if [ -n "$newest" ]; then
    [ "$version" != "$release" ] || version=$release+0.g${hash:0:10}
    when=$(date -u -d "@$newest" +%Y%m%d%H%M%S)
    version+=.d$when
    entry+=", with changes not committed (the newest at $when UTC)"
    [ -n "${1-}" ] || echo "$ME: changes not committed in $top: built as $version" >&2
fi
case ${1-} in
"") echo "$version" ;;
--entry) echo "$entry." ;;
--previous)
    for v in $releases; do
        if dpkg --compare-versions "$v" lt "$version"; then
            c=$(released "$v")
            [ -z "$c" ] || echo "$v $c"
            exit 0
        fi
    done
    ;;
esac
