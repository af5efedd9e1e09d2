#!/bin/sh
# SPDX-License-Identifier: MIT
# Stands in for the kernel's scripts/checker-valid.sh where Debian's headers
# leave it out (kernels.sh puts it there) although their make runs it when
# sparse is asked for (C=1), and without it refuses sparse: prints 1 when
# the checker, run as the make gives it (<checker> <its flags>), reads what
# the newer kernels' headers use (__typeof_unqual__) without an error, else 0.
probe=$(mktemp --suffix=.c) || exit 1
trap 'rm -f "$probe"' EXIT
printf 'static inline int u(const int *q)\n{\n\t__typeof_unqual__(*q) v = *q;\n\treturn v;\n}\n' >"$probe"
if command -v "$1" >/dev/null && ! "$@" "$probe" 2>&1 | grep -q error; then echo 1; else echo 0; fi
