// SPDX-License-Identifier: MIT
/*
 * arith.h - the two functions that main.o calls and does not define: the
 * program that links main.o supplies them (arith.c is one such supplier).
 */
#ifndef ARITH_H
#define ARITH_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

int32_t add(int32_t a, int32_t b);
int32_t sub(int32_t a, int32_t b);

#ifdef __cplusplus
}
#endif

#endif /* ARITH_H */
