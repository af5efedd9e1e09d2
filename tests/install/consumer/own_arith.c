// SPDX-License-Identifier: MIT
/* A user's add and sub for main.o, add through cyclar.o: main.o's 10 and 20
 * come out as 2010 and -10. */
#include <arith.h>
#include <cyclar.h>

int32_t add(int32_t a, int32_t b) {
    int32_t pair[2] = {a, b};
    cyclar(pair, 1, 2);
    return pair[0] * 100 + pair[1];
}

int32_t sub(int32_t a, int32_t b) {
    return a - b;
}
