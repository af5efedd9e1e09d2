#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the release build and runs the benchmarks: each of the project's
# operations next to a plain reference measured in the same run.
#   scripts/bench.sh [--check]   --check: exit non-zero when a target is missed
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target list_bench cyclar_bench fifodrain >/dev/null

echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores, Linux $(uname -r)"
status=0
echo && build/bench/list_bench "$@" || status=1
echo && build/bench/cyclar_bench "$@" || status=1
echo && bash bench/fifodrain_bench.sh build/fifo_server/fifodrain
exit $status
