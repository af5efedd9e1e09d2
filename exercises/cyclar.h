// SPDX-License-Identifier: MIT
/*
 * cyclar.h - in-place left rotation of an array of 32-bit integers
 * (cyclar.o). C and C++.
 */
#ifndef CYCLAR_H
#define CYCLAR_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Rotates values[0..length) left by rounds places, in place: the result is
 * that of moving every element one place towards the front, the front one
 * going to the back, rounds times. rounds <= 0 or length < 1 leave the array
 * untouched; nothing outside the length elements is read or written. */
void cyclar(int32_t *values, int32_t rounds, int32_t length);

#ifdef __cplusplus
}
#endif

#endif /* CYCLAR_H */
