#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The list: liblistcore.so and the list modules, linked into a C program.
echo "== list library: liblistcore.so and the list modules ($BUILD/demo/list_road)"
"$BUILD/demo/list_road"
