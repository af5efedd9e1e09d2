// SPDX-License-Identifier: MIT
// The list module prequill: insertion before a key.
#include "list_internal.h"

extern "C" void add_before_node(int32_t key, int32_t value) {
    if (head == nullptr) {
        std::puts("\n\tThe list is empty\n");
        return;
    }
    Found f = find_first(key);
    if (f.at == nullptr) {
        std::puts("\n\tthe element not found \n");
        return;
    }
    node *n = new_node(value, f.at, "\n\tfailed to alloc the memory in heap\n");
    if (f.prev == nullptr)
        head = n;
    else
        f.prev->next = n;
}
