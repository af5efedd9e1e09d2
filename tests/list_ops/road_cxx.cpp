// SPDX-License-Identifier: MIT
// The demonstration's C program built as C++ and with liblistcore.so's own
// display(): the header and the library serve a C++ program just the same.
#include "../../demo/list_road.c"
