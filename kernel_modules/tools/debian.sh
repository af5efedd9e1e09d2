#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Debian's archive as this machine's own apt configuration names it, so that
# the project works behind any mirror and names no host itself; and a private
# apt configuration for reading other releases' packages without touching the
# machine's. Sourced by kernels.sh and buildroot.sh, which fetch kernels and
# make build roots.
#
#   debian_archive [security]   the URI of Debian's archive (or of its security
#                               archive), from /etc/apt/sources.list.d/*.sources,
#                               /etc/apt/sources.list or sources.list.d/*.list
#                               (as mmdebstrap leaves it); empty when none
#   debian_sources <suite>      sources.list lines for <suite> and, where Debian
#                               has one, its -security suite
#   private_apt <dir> <suite> [arch...]
#                               an apt configuration of its own in <dir> for
#                               <suite>, read afresh; for the architectures
#                               named (the first is apt's own), else this
#                               machine's
#   with_apt <dir> <command>... runs apt-get or apt-cache with it
# Each stops at its first failure by itself: they are called as conditions.

# Suites of Debian's own: codenames and aliases, with their update suites.
debian_suite='^(buster|bullseye|bookworm|trixie|forky|duke|sid|experimental|oldoldstable|oldstable|stable|testing|unstable)([-/].*)?$'

debian_archive() {
    local want=${1:-main}
    {
        # deb822 stanzas: every field of one stanza on one line, tab-separated.
        for f in /etc/apt/sources.list.d/*.sources; do
            [ -r "$f" ] || continue
            awk -v RS= '{ gsub(/\n[ \t]+/, " "); gsub(/\n/, "\t"); print }' "$f" |
                awk -F'\t' '{
                    types = uris = suites = ""; enabled = "yes"
                    for (i = 1; i <= NF; i++) {
                        split($i, kv, ":[ \t]*")
                        key = tolower(kv[1]); value = substr($i, length(kv[1]) + 2)
                        sub(/^[ \t]+/, "", value)
                        if (key == "types") types = value
                        else if (key == "uris") uris = value
                        else if (key == "suites") suites = value
                        else if (key == "enabled") enabled = tolower(value)
                    }
                    if (enabled == "no" || (" " types " ") !~ / deb /) next
                    n = split(uris, u, " ")
                    m = split(suites, s, " ")
                    for (i = 1; i <= n; i++) for (j = 1; j <= m; j++) print u[i], s[j]
                }'
        done
        # One-line format: deb [options] URI suite components...
        for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
            [ -r "$f" ] || continue
            sed -e 's/#.*//' -e 's/\[[^]]*\]//' "$f" | awk '$1 == "deb" { print $2, $3 }'
        done
    } | while read -r uri suite; do
        [[ $suite =~ $debian_suite ]] || continue
        case $want:$suite in
        security:*-security* | security:*/updates) echo "${uri%/}" ;;
        main:*-security* | main:*/updates) ;;
        main:*) echo "${uri%/}" ;;
        esac
    done | sed -n 1p
}

debian_sources() {
    local suite=$1 archive security
    archive=$(debian_archive) || return
    [ -n "$archive" ] || {
        echo "debian.sh: this machine's apt configuration names no Debian archive" >&2
        return 1
    }
    echo "deb $archive $suite main"
    security=$(debian_archive security) || return
    case $suite in
    sid | unstable | experimental) ;;
    *) [ -z "$security" ] || echo "deb $security $suite-security main" ;;
    esac
}

private_apt() {
    local dir=$1 suite=$2 arches=("${@:3}")
    rm -rf "$dir" && mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial" && : >"$dir/status" || return
    debian_sources "$suite" >"$dir/sources.list" || return
    # The empty status keeps the machine's installed packages from masking
    # other releases' versions. Some mirrors serve an old suite's Release file
    # past its Valid-Until date: accepted for these private reads only.
    cat >"$dir/apt.conf" <<EOF || return
Dir::Etc::sourcelist "$dir/sources.list";
Dir::Etc::sourceparts "/nonexistent";
Dir::State::lists "$dir/lists";
Dir::Cache "$dir/cache";
Dir::State::status "$dir/status";
APT::Sandbox::User "$(id -un)";
Acquire::Check-Valid-Until "false";
EOF
    if [ ${#arches[@]} -gt 0 ]; then
        echo "APT::Architecture \"${arches[0]}\";"
        printf 'APT::Architectures { %s};\n' "$(printf '"%s"; ' "${arches[@]}")"
    fi >>"$dir/apt.conf" || return
    with_apt "$dir" apt-get -qq update
}

with_apt() {
    APT_CONFIG=$1/apt.conf "${@:2}"
}
