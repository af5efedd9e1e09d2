// SPDX-License-Identifier: MIT
// The list module postquill: insertion after a key.
#include "list_internal.h"

extern "C" void add_after_node(int32_t key, int32_t value) {
    if (head == nullptr) {
        std::puts("\n\tthe list is empty \n");
        return;
    }
    Found f = find_first(key);
    if (f.at == nullptr) {
        std::puts("\n\tthe element not found in list \n");
        return;
    }
    f.at->next = new_node(value, f.at->next, "\n\tfailed to alloc the memory in heap\n");
}
