// SPDX-License-Identifier: MIT
// Decimal digits for display(): int32_t values as "%d  " writes them,
// without printf. Internal linkage, like list_internal.h.
#ifndef LIST_DIGITS_H
#define LIST_DIGITS_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The eight decimal digits of u < 100,000,000, one per byte of a word, the
// most significant in its lowest-order byte (digit values, not yet
// characters; store_low_first() lays them out in reading order): the
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

// Stores the word's bytes lowest-order first, whatever the machine's byte
// order: big-endian machines (s390x) swap them.
inline void store_low_first(char *out, uint64_t word) {
    if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__)
        word = __builtin_bswap64(word);
    std::memcpy(out, &word, sizeof word);
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
    store_low_first(out, (digits | 0x3030303030303030u) >> (8 * zeros));
    out += 8 - zeros;
    out[0] = ' ';
    out[1] = ' ';
    return out + 2;
}

// The most put_value() writes: "-2147483648  ".
constexpr size_t kMaxValueBytes = 13;

// Writes v in decimal followed by two blanks, as "%d  " would, and returns
// the end of that text. No byte past kMaxValueBytes from `out` is touched,
// though a short value's conversion leaves scratch past the end it returns.
inline char *put_value(char *out, int32_t v) {
    uint32_t u = magnitude(v);
    out = put_sign(out, v);
    if (u >= 100000000) {
        uint32_t high = u / 100000000; // 1 to 21
        u -= high * 100000000;
        if (high >= 10)
            *out++ = static_cast<char>('0' + high / 10);
        *out++ = static_cast<char>('0' + high % 10);
        store_low_first(out, eight_digits(u) | 0x3030303030303030u);
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

} // namespace

#endif // LIST_DIGITS_H
