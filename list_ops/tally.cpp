// SPDX-License-Identifier: MIT
// The list module tally: number of nodes.
#include "list_internal.h"

extern "C" int32_t cnt_nodes(void) {
    if (head == nullptr) {
        std::puts("\n\tthe list is empty \n");
        return 0;
    }
    int32_t count = 0;
    for (const node *n = head; n != nullptr; n = n->next) {
        prefetch_ahead(n);
        ++count;
    }
    return count;
}
