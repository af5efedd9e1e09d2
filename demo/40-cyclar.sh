#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# cyclar: rotations in place, from a C program linked with cyclar.o.
echo "== cyclar: left rotation in place ($BUILD/exercises/cyclar.o in $BUILD/demo/cyclar_demo)"
"$BUILD/demo/cyclar_demo"
