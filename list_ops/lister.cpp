// SPDX-License-Identifier: MIT
// The list module lister: display() on its own, for programs that link the
// list modules without liblistcore.so.
#include "list_internal.h"

extern "C" void display(void) {
    write_list();
}
