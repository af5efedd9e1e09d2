// SPDX-License-Identifier: MIT
// The object module main: a program entry that prints what add and sub,
// supplied by whoever links it, make of 10 and 20.
#include "arith.h"

#include <cstdio>

int main() {
    std::printf("add : %d \n", add(10, 20));
    std::printf("sub : %d \n", sub(10, 20));
    std::printf("finish");
    return 0;
}
