// SPDX-License-Identifier: MIT
// Helpers shared by the list operations. Everything here has internal
// linkage, so each object that includes it gets its own private copy and no
// helper ever shows up as a symbol of a deliverable.
#ifndef LIST_INTERNAL_H
#define LIST_INTERNAL_H

#include "listcore.h"

#include "digits.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Nodes built one after another tend to lie one after another in memory:
// asking early for the memory a little past a node lets a walk find the
// next ones in the cache. A prefetch never faults, wherever it points.
inline void prefetch_ahead(const node *n) {
    constexpr size_t ahead = 2048; // 64 of malloc's 32-byte blocks
    __builtin_prefetch(reinterpret_cast<const void *>(reinterpret_cast<uintptr_t>(n) + ahead));
}

// The first node holding a value, with its predecessor (null when it is the
// first node) and its position counted from 1. `at` is null when no node
// holds the value.
struct Found {
    node *prev;
    node *at;
    int32_t pos;
};

inline Found find_first(int32_t key) {
    node *prev = nullptr;
    int32_t pos = 1;
    for (node *at = head; at != nullptr; prev = at, at = at->next, ++pos) {
        prefetch_ahead(at);
        if (at->data == key)
            return {prev, at, pos};
    }
    return {prev, nullptr, 0};
}

// Allocates one node. Running out of memory is fatal for the list: the
// operation's own message line, then exit(-1) so that buffered output,
// the message included, is flushed.
inline node *new_node(int32_t data, node *next, const char *failure_line) {
    auto *n = static_cast<node *>(std::malloc(sizeof(node)));
    if (n == nullptr) {
        std::puts(failure_line);
        std::exit(-1);
    }
    n->data = data;
    n->next = next;
    return n;
}

// Unlinks `at` (whose predecessor is `prev`, null for the first node) and
// frees it.
inline void unlink_and_free(node *prev, node *at) {
    if (prev == nullptr)
        head = at->next;
    else
        prev->next = at->next;
    std::free(at);
}

// The body of display(), shared by liblistcore.so and lister.o. The values
// are formatted here, two at a time, and handed to stdout in blocks, which
// keeps the order with the caller's own buffered output and costs a fraction
// of one printf per node.
inline void write_list() {
    if (head == nullptr) {
        std::puts("\n\tthe list is empty \n");
        return;
    }
    std::fputs("\nThe data : ", stdout);
    constexpr size_t widest = 2 * kMaxValueBytes;
    char buf[16384];
    char *end = buf;
    for (const node *n = head; n != nullptr;) {
        prefetch_ahead(n);
        if (static_cast<size_t>(buf + sizeof buf - end) < widest) {
            std::fwrite(buf, 1, static_cast<size_t>(end - buf), stdout);
            end = buf;
        }
        const node *m = n->next;
        if (m == nullptr) {
            end = put_value(end, n->data);
            break;
        }
        uint32_t u0 = magnitude(n->data), u1 = magnitude(m->data);
        if (u0 < 100000000 && u1 < 100000000) {
            uint64_t d0, d1;
            eight_digits_twice(u0, u1, d0, d1);
            end = put_digits(put_sign(end, n->data), d0);
            end = put_digits(put_sign(end, m->data), d1);
        } else {
            end = put_value(put_value(end, n->data), m->data);
        }
        n = m->next;
    }
    std::fwrite(buf, 1, static_cast<size_t>(end - buf), stdout);
    std::puts("\n");
}

} // namespace

#endif // LIST_INTERNAL_H
