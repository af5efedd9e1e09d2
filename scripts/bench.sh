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
echo && build/bench/cyclar_bench "$@" || status=1
echo && bash bench/fifodrain_bench.sh build/fifo_server/fifodrain
exit $status
