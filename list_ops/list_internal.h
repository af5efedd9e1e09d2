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
#include <cstring>

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

// The eight decimal digits of u < 100,000,000, most significant first, one
// per byte of a little-endian word (digit values, not yet characters): the
// four-digit halves, their two-digit quarters and those quarters' digits are
// split in parallel, each division by a constant done as a multiplication
// and a shift that are exact over the range.
inline uint64_t eight_digits(uint32_t u) {
    uint64_t x = (u / 10000) | (uint64_t{u % 10000} << 32);
    uint64_t hundreds = ((x * 10486) >> 20) & 0x0000007F0000007Fu;
    x = hundreds | ((x - hundreds * 100) << 16);
    uint64_t tens = ((x * 103) >> 10) & 0x000F000F000F000Fu;
    return tens | ((x - tens * 10) << 8);
}

// Writes v in decimal followed by two blanks, as "%d  " would; returns the
// end of what was written. Needs at most 13 bytes, but may scribble on up to
// 19 bytes from `out`.
inline char *put_value(char *out, int32_t v) {
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "digits laid out little-endian");
    uint32_t u = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
    *out = '-';
    out += v < 0;
    if (u >= 100000000) {
        uint32_t high = u / 100000000; // 1 to 21
        u -= high * 100000000;
        if (high >= 10)
            *out++ = static_cast<char>('0' + high / 10);
        *out++ = static_cast<char>('0' + high % 10);
        uint64_t digits = eight_digits(u) | 0x3030303030303030u;
        std::memcpy(out, &digits, sizeof digits);
        out += 8;
    } else {
        // Leading zeros are the low zero bytes; the last digit always counts.
        uint64_t digits = eight_digits(u);
        int zeros = __builtin_ctzll(digits | uint64_t{1} << 56) / 8;
        digits = (digits | 0x3030303030303030u) >> (8 * zeros);
        std::memcpy(out, &digits, sizeof digits);
        out += 8 - zeros;
    }
    out[0] = ' ';
    out[1] = ' ';
    return out + 2;
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
    constexpr size_t widest = 19; // "-2147483648  " and put_value's scribbles
    char buf[16384];
    char *end = buf;
    for (const node *n = head; n != nullptr; n = n->next) {
        prefetch_ahead(n);
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
