// SPDX-License-Identifier: MIT
// The list module seeker: position of a value.
#include "list_internal.h"

extern "C" int32_t search_data(int32_t key) {
    if (head == nullptr) {
        std::puts("\n\tthe list is empty \n");
        return -1;
    }
    return find_first(key).pos;
}
