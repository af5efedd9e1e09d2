// SPDX-License-Identifier: MIT
/* cyclar from C: small rotations, then a billion places on a million values. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "cyclar.h"

static void show(const char *what, const int32_t *values, int32_t length) {
    printf("%-26s", what);
    for (int32_t i = 0; i < length; ++i)
        printf(" %d", values[i]);
    printf("\n");
}

int main(void) {
    int32_t v[] = {1, 2, 3, 4, 5};
    show("values", v, 5);
    cyclar(v, 1, 5);
    show("cyclar(values, 1, 5)", v, 5);
    cyclar(v, 1, 5);
    show("cyclar(values, 1, 5) again", v, 5);
    cyclar(v, 7, 5);
    show("cyclar(values, 7, 5)", v, 5);
    cyclar(v, -3, 5);
    show("cyclar(values, -3, 5)", v, 5);

    const int32_t length = 1000000, rounds = 1000000007;
    int32_t *big = malloc(sizeof *big * (size_t)length);
    if (big == NULL)
        return 1;
    for (int32_t i = 0; i < length; ++i)
        big[i] = i;
    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    cyclar(big, rounds, length);
    clock_gettime(CLOCK_MONOTONIC, &t1);
    double ms = (double)(t1.tv_sec - t0.tv_sec) * 1e3 + (double)(t1.tv_nsec - t0.tv_nsec) / 1e6;
    printf("%d places on %d values: %.1f ms, now starting %d %d %d ... ending %d\n", rounds, length,
           ms, big[0], big[1], big[2], big[length - 1]);
    free(big);
    return 0;
}
