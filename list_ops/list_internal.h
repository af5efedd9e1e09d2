// SPDX-License-Identifier: MIT
// Helpers shared by the list operations. Everything here has internal
// linkage, so each object that includes it gets its own private copy and no
// helper ever shows up as a symbol of a deliverable.
#ifndef LIST_INTERNAL_H
#define LIST_INTERNAL_H

#include "listcore.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

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

// Writes v in decimal followed by two blanks, as "%d  " would; returns the
// end of what was written. Needs at most 13 bytes.
inline char *put_value(char *out, int32_t v) {
    uint32_t u = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    if (v < 0)
        *out++ = '-';
    while (n > 0)
        *out++ = digits[--n];
    *out++ = ' ';
    *out++ = ' ';
    return out;
}

// The body of display(), shared by liblistcore.so and lister.o. The values
// are formatted here and handed to stdout in blocks, which keeps the order
// with the caller's own buffered output and costs a fraction of one printf
// per node.
inline void write_list() {
    if (head == nullptr) {
        std::puts("\n\tthe list is empty \n");
        return;
    }
    std::fputs("\nThe data : ", stdout);
    constexpr size_t widest = 13; // "-2147483648  "
    char buf[4096];
    char *end = buf;
    for (const node *n = head; n != nullptr; n = n->next) {
        if (static_cast<size_t>(buf + sizeof buf - end) < widest) {
            std::fwrite(buf, 1, static_cast<size_t>(end - buf), stdout);
            end = buf;
        }
        end = put_value(end, n->data);
    }
    std::fwrite(buf, 1, static_cast<size_t>(end - buf), stdout);
    std::puts("\n");
}

// delete_duplicate_nodes spreads long lists over kChains chains by value
// (here for the tests to build lists that crowd one chain).
constexpr uint32_t kChains = 3072;

inline uint32_t chain_of(int32_t v) {
    // Another hash than its value set's, so that one chain's values spread
    // over the whole set.
    uint32_t x = static_cast<uint32_t>(v);
    x ^= x >> 16;
    x *= 0x85EBCA6Bu;
    x ^= x >> 13;
    x *= 0xC2B2AE35u;
    x ^= x >> 16;
    return static_cast<uint32_t>((uint64_t{x} * kChains) >> 32);
}

} // namespace

#endif // LIST_INTERNAL_H
