#!/usr/bin/env bash
# Builds everything and runs every test: first the user-space unit tests
# under AddressSanitizer and UndefinedBehaviorSanitizer, then the whole suite
# (unit, binary-interface, program and kernel tests) on the release build.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

cmake --preset asan
cmake --build --preset asan
ctest --preset asan

cmake --preset default
cmake --build --preset default
ctest --preset default
