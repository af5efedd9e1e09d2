// SPDX-License-Identifier: MIT
// The list module topdrop: the list as a stack, its top at head.
#include "list_internal.h"

extern "C" void topdrop(void) {
    if (head == nullptr) {
        std::puts("\n\tthe list is empty\n");
        return;
    }
    unlink_and_free(nullptr, head);
}
