#!/usr/bin/env bash
# Builds everything and shows every component at work, one heading each.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
echo "building everything into build/ (the first time also fetches Debian's kernels: a few minutes)"
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null

start=$SECONDS
for part in demo/[0-9]*.sh; do
    bash "$part"
    echo
done
echo "== demonstration finished in $((SECONDS - start)) s"
