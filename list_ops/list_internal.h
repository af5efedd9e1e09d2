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
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

inline uint32_t magnitude(int32_t v) {
    return v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
}

// Writes the sign of v, if any; returns where the digits go.
inline char *put_sign(char *out, int32_t v) {
    *out = '-';
    return out + (v < 0);
}

// Writes eight digit values (as eight_digits() gives them) without their
// leading zeros, then two blanks; returns the end. May scribble on up to 10
// bytes from `out`.
inline char *put_digits(char *out, uint64_t digits) {
    // Leading zeros are the low zero bytes; the last digit always counts.
    int zeros = __builtin_ctzll(digits | uint64_t{1} << 56) / 8;
    digits = (digits | 0x3030303030303030u) >> (8 * zeros);
    std::memcpy(out, &digits, sizeof digits);
    out += 8 - zeros;
    out[0] = ' ';
    out[1] = ' ';
    return out + 2;
}

// Writes v in decimal followed by two blanks, as "%d  " would; returns the
// end of what was written. Needs at most 13 bytes, but may scribble on up to
// 19 bytes from `out`.
inline char *put_value(char *out, int32_t v) {
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "digits laid out little-endian");
    uint32_t u = magnitude(v);
    out = put_sign(out, v);
    if (u >= 100000000) {
        uint32_t high = u / 100000000; // 1 to 21
        u -= high * 100000000;
        if (high >= 10)
            *out++ = static_cast<char>('0' + high / 10);
        *out++ = static_cast<char>('0' + high % 10);
        uint64_t digits = eight_digits(u) | 0x3030303030303030u;
        std::memcpy(out, &digits, sizeof digits);
        out[8] = ' ';
        out[9] = ' ';
        return out + 10;
    }
    return put_digits(out, eight_digits(u));
}

// eight_digits() of two magnitudes below 100,000,000 at once, in the lanes of
// an SSE2 register: the same steps, each lane its own number. Elsewhere, one
// after the other.
#if !defined(__SSE2__)
inline void eight_digits_twice(uint32_t u0, uint32_t u1, uint64_t &d0, uint64_t &d1) {
    d0 = eight_digits(u0);
    d1 = eight_digits(u1);
}
#else
inline void eight_digits_twice(uint32_t u0, uint32_t u1, uint64_t &d0, uint64_t &d1) {
    auto lanes = [](uint32_t c) { return _mm_set1_epi32(static_cast<int>(c)); };
    __m128i u = _mm_set_epi64x(u1, u0);
    __m128i high = _mm_srli_epi64(_mm_mul_epu32(u, lanes(0xD1B71759u)), 45); // u / 10000
    __m128i low = _mm_sub_epi32(u, _mm_mul_epu32(high, lanes(10000)));
    __m128i x = _mm_or_si128(high, _mm_slli_epi64(low, 32)); // 4 digits per 32 bits
    __m128i hundreds = _mm_srli_epi16(_mm_mulhi_epu16(x, _mm_set1_epi16(5243)), 3);
    x = _mm_or_si128(
        hundreds, _mm_slli_epi32(_mm_sub_epi16(x, _mm_mullo_epi16(hundreds, _mm_set1_epi16(100))),
                                 16)); // 2 digits per 16 bits
    __m128i tens = _mm_mulhi_epu16(x, _mm_set1_epi16(6554));
    x = _mm_or_si128(tens,
                     _mm_slli_epi16(_mm_sub_epi16(x, _mm_mullo_epi16(tens, _mm_set1_epi16(10))),
                                    8)); // 1 digit per byte
    d0 = static_cast<uint64_t>(_mm_cvtsi128_si64(x));
    d1 = static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(x, x)));
}
#endif

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
    constexpr size_t widest = 2 * 19; // two of "-2147483648  " and put_value's scribbles
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
