// SPDX-License-Identifier: MIT
#include "list_internal.h"

extern "C" void display(void) {
    write_list();
}
