// SPDX-License-Identifier: MIT
// How delete_duplicate_nodes (twinpurge.cpp) spreads long lists over chains
// by value; its tests build lists that crowd one chain with it.
#ifndef LIST_CHAINS_H
#define LIST_CHAINS_H

#include <cstdint>

namespace {

// Long lists are spread over kChains chains by a hash of the value.
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

#endif // LIST_CHAINS_H
