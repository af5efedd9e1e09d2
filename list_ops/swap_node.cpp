// SPDX-License-Identifier: MIT
#include "list_internal.h"

extern "C" void swap_nodes(int32_t first, int32_t second) {
    if (first == second)
        return;
    if (head == nullptr) {
        std::puts("\n\tthe list is empty\n");
        return;
    }
    Found a = find_first(first);
    Found b = find_first(second);
    if (a.at == nullptr || b.at == nullptr) {
        std::puts("\n\tthe data not found\n");
        return;
    }

    // p is the earlier node, q the later one; only links move.
    const Found &p = a.pos < b.pos ? a : b;
    const Found &q = a.pos < b.pos ? b : a;
    if (p.at->next == q.at) {
        p.at->next = q.at->next;
        q.at->next = p.at;
    } else {
        node *p_next = p.at->next;
        p.at->next = q.at->next;
        q.at->next = p_next;
        q.prev->next = p.at;
    }
    if (p.prev == nullptr)
        head = q.at;
    else
        p.prev->next = q.at;
}
