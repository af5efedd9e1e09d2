#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# cyclar: rotations in place, from a C program linked with cyclar.o.
echo "== cyclar: left rotation in place (build/exercises/cyclar.o in build/demo/cyclar_demo)"
build/demo/cyclar_demo
