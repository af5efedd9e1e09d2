#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the release build and runs the benchmarks: each of the project's
# operations next to plain references and, for the list, next to the peers a
# programmer would use instead, all measured in the same run. Redraws
# docs/duplicates.svg, the growth of duplicate removal, from this run's
# figures (gnuplot).
#   scripts/bench.sh [--check]   --check: exit non-zero when a target is missed
set -euo pipefail
cd "$(dirname "$0")/.."
. shell/common.sh

scripts/setup.sh
echo "bench: configuring and building the release build (a minute or two the first time)"
cmake --preset default >/dev/null
cmake --build --preset default --target list_bench cyclar_bench fifodrain >/dev/null

echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores, Linux $(uname -r)"
status=0
plot_data=build/bench/duplicates.dat
echo && echo "list_bench: about 2 minutes, one line per row"
build/bench/list_bench "$@" --plot "$plot_data" || status=1
gnuplot -c bench/duplicates.gp "$plot_data" >docs/duplicates.svg
echo "bench: drew docs/duplicates.svg from $plot_data"
# Duplicate removal in the i386 build, which goes block by block there (no
# padding in a 32-bit node): timed where this machine runs i386 programs
# itself, which configuring finds out.
echo && echo "list_bench, i386: configuring and building build/cross/i386 (a minute or two the first time)"
said=$(cmake -S . -B build/cross/i386 -G Ninja --toolchain cmake/cross.cmake -DCROSS_TRIPLET=i686-linux-gnu \
    -DCMAKE_BUILD_TYPE=Release 2>&1 >/dev/null) || die "configuring build/cross/i386 failed: $said"
how=$(sed -n 's/^cross.cmake: //p' <<<"$said")
cmake --build build/cross/i386 --target list_bench >/dev/null
case $how in
*natively*) echo "list_bench, i386: duplicate removal, about a minute" &&
    { build/cross/i386/bench/list_bench "$@" --only duplicates || status=1; } ;;
*) echo "list_bench, i386: not timed, since $how" ;;
esac
echo && build/bench/cyclar_bench "$@" || status=1
echo && bash bench/fifodrain_bench.sh build/fifo_server/fifodrain
exit $status
