// SPDX-License-Identifier: MIT
/* add and sub for programs that link main.o: the sum and the difference.
 * Not part of main.o; the tests and the demonstration link it. */
#include "arith.h"

int32_t add(int32_t a, int32_t b) {
    return a + b;
}

int32_t sub(int32_t a, int32_t b) {
    return a - b;
}
