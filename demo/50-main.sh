#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# main: the object main.o linked by gcc with add and sub from exercises/arith.c.
set -eu
echo "== main: $BUILD/exercises/main.o linked with add and sub from exercises/arith.c"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
echo "gcc -I exercises -o arith_main $BUILD/exercises/main.o exercises/arith.c"
gcc -I exercises -o "$scratch/arith_main" "$BUILD/exercises/main.o" exercises/arith.c
"$scratch/arith_main"
echo "   <- no line end after \"finish\"; status $?"
