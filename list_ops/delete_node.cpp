// SPDX-License-Identifier: MIT
#include "list_internal.h"

extern "C" void delete_node(int32_t key) {
    if (head == nullptr) {
        std::puts("\n\tThe list is empt \n");
        return;
    }
    Found f = find_first(key);
    if (f.at == nullptr) {
        std::puts("\n\tthe element not found\n");
        return;
    }
    unlink_and_free(f.prev, f.at);
}
