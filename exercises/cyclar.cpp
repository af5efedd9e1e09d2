// SPDX-License-Identifier: MIT
// The object module cyclar: left rotation of an int32_t array in place.
#include "cyclar.h"

#include <algorithm>

extern "C" __attribute__((visibility("default"))) void cyclar(int32_t *values, int32_t rounds,
                                                              int32_t length) {
    if (rounds <= 0 || length < 1)
        return;
    // `length` single-place rotations give the array back, so one rotation
    // by the remainder does the whole job in at most `length` moves,
    // whatever `rounds` is.
    std::rotate(values, values + rounds % length, values + length);
}
