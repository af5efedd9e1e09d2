// SPDX-License-Identifier: MIT
#include "list_internal.h"

extern "C" void create_list(const int32_t *values, int32_t count) {
    // Build the new chain apart, so that running out of memory part-way
    // leaves the list as it was.
    node *first = nullptr;
    node *last = nullptr;
    for (int32_t i = 0; i < count; ++i) {
        node *n = new_node(values[i], nullptr, "\n\tfailed to allocate memory\n");
        if (last == nullptr)
            first = n;
        else
            last->next = n;
        last = n;
    }

    if (head == nullptr) {
        head = first;
        return;
    }
    node *tail = head;
    while (tail->next != nullptr) {
        prefetch_ahead(tail);
        tail = tail->next;
    }
    tail->next = first;
}
