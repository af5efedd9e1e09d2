// SPDX-License-Identifier: MIT
// The list module twinpurge: keep the first node of every value.
//
// Comparing every node with every later one costs the square of the length,
// and the operation may not allocate, so its only memory is its own stack:
//
// 1. The first occurrences are collected in a set of up to kBlock values on
//    the stack, repeats among them freed on the way. A list with no more
//    distinct values than that is done in this one pass.
// 2. Otherwise, on 64-bit machines, the rest of the list is spread over
//    kChains chains by a hash of the value, so that equal values share a
//    chain and a chain holds a small share of the values; nodes holding a
//    value of the first block are freed on the way. The chains are threaded
//    through the four bytes of padding in each node, which hold nothing
//    else, so the list itself keeps its order.
// 3. The chains are searched for repeats, a group of them at a time with the
//    same set, and repeats are marked in a spare bit of their `next`. A group
//    with more values than the set holds takes several passes, as the whole
//    list once did.
// 4. One walk down the list frees the marked nodes: the same nodes are kept,
//    in the same order, as with the plain quadratic walk.
//
// A node that the chains cannot refer to (far from the others, or not on
// malloc's 16-byte boundary) stops step 2, and the operation goes on with
// one pass per block of kBlock distinct values. A 32-bit node (armel, armhf,
// i386) has no byte to spare: its eight bytes are the value and `next`, and
// those around it are malloc's or the caller's. There every list past the
// first block takes those passes: the operation writes nothing but the
// nodes' `next`, whatever allocator made them.
#include "chains.h"
#include "list_internal.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>

namespace {

constexpr uint32_t kSlotBits = 13;
constexpr uint32_t kSlots = 1u << kSlotBits; // 32 KiB of int32_t
constexpr uint32_t kBlock = kSlots / 2;      // keeps probe sequences short

// A set of int32_t values in a caller's array of kSlots slots, holding at
// most kBlock values. Empty slots hold kEmpty; kEmpty itself, when it is a
// member, is only remembered by a flag.
class ValueSet {
  public:
    explicit ValueSet(int32_t *slots) : slots_(slots) {}

    void reset() {
        std::fill(slots_, slots_ + kSlots, kEmpty);
        has_empty_value_ = false;
        size_ = 0;
    }
    uint32_t size() const { return size_; }

    bool contains(int32_t v) const {
        if (v == kEmpty)
            return has_empty_value_;
        for (uint32_t i = slot(v);; i = (i + 1) & kMask) {
            if (slots_[i] == v)
                return true;
            if (slots_[i] == kEmpty)
                return false;
        }
    }

    // Adds v; false when it was already there.
    bool insert(int32_t v) {
        if (v == kEmpty) {
            if (has_empty_value_)
                return false;
            has_empty_value_ = true;
            ++size_;
            return true;
        }
        uint32_t i = slot(v);
        for (; slots_[i] != kEmpty; i = (i + 1) & kMask) {
            if (slots_[i] == v)
                return false;
        }
        slots_[i] = v;
        ++size_;
        return true;
    }

  private:
    static constexpr int32_t kEmpty = INT32_MIN;
    static constexpr uint32_t kMask = kSlots - 1;

    static uint32_t slot(int32_t v) {
        return (static_cast<uint32_t>(v) * 0x9E3779B1u) >> (32 - kSlotBits);
    }

    int32_t *slots_;
    bool has_empty_value_ = false;
    uint32_t size_ = 0;
};

// Unlinks `at`, the node after `prev`, frees it and returns the node that
// followed it.
node *drop(node *prev, node *at) {
    node *following = at->next;
    unlink_and_free(prev, at);
    return following;
}

#if UINTPTR_MAX > 0xFFFFFFFFu
// While the rest of the list is spread over chains, each node keeps the
// link to the next node of its chain in four bytes of its own that hold
// nothing else, as a 32-bit reference (0: none). `next` keeps the list's
// order; its bit 0 (always 0 in a pointer to a node) marks a repeat.
constexpr uintptr_t kRepeat = 1;

// A 64-bit node has four bytes of padding between its `data` and its `next`;
// the reference is the distance from the first node spread in 16-byte
// steps, offset by 2^31 so that 0 means none.
static_assert(sizeof(int32_t) == 4 && offsetof(node, next) == 8, "node with 4 bytes of padding");

constexpr size_t kLinkAt = 4;

class Places {
  public:
    explicit Places(const node *base) : base_(reinterpret_cast<uintptr_t>(base)) {}

    // Whether n can be referred to: 16-byte aligned and within 32 GiB of
    // the base.
    bool fits(const node *n) const {
        uintptr_t at = reinterpret_cast<uintptr_t>(n);
        if ((at & 15) != 0)
            return false;
        int64_t steps = static_cast<int64_t>(at - base_) >> 4;
        return steps > INT32_MIN && steps <= INT32_MAX;
    }
    uint32_t ref(const node *n) const {
        int64_t steps = static_cast<int64_t>(reinterpret_cast<uintptr_t>(n) - base_) >> 4;
        return static_cast<uint32_t>(steps + kOffset);
    }
    node *at(uint32_t ref) const {
        if (ref == 0)
            return nullptr;
        return reinterpret_cast<node *>(base_ +
                                        static_cast<uintptr_t>((int64_t{ref} - kOffset) * 16));
    }

  private:
    static constexpr int64_t kOffset = int64_t{1} << 31;
    uintptr_t base_;
};

// The places of the nodes spread, and the links between them.
class Refs : public Places {
  public:
    using Places::Places;

    node *chain_next(const node *n) const { return at(link(n)); }

    static uint32_t link(const node *n) {
        uint32_t ref;
        std::memcpy(&ref, reinterpret_cast<const unsigned char *>(n) + kLinkAt, sizeof ref);
        return ref;
    }
    static void set_link(node *n, uint32_t ref) {
        std::memcpy(reinterpret_cast<unsigned char *>(n) + kLinkAt, &ref, sizeof ref);
    }
};

bool is_repeat(const node *n) {
    return (reinterpret_cast<uintptr_t>(n->next) & kRepeat) != 0;
}
void mark_repeat(node *n) {
    n->next = reinterpret_cast<node *>(reinterpret_cast<uintptr_t>(n->next) | kRepeat);
}
node *next_of(const node *n) {
    return reinterpret_cast<node *>(reinterpret_cast<uintptr_t>(n->next) & ~kRepeat);
}

// About 1,000,000 / kChains values per chain (kChains and chain_of() are in
// chains.h), and kGroup chains' values fit the set at once (values of
// different chains differ, so one set serves them all).
constexpr uint32_t kGroup = 12;

// Marks the repeats in chains [first, first + count): walks them side by
// side, since their nodes lie anywhere in memory and the misses of
// independent walks overlap. When the set fills, each chain's rest is swept
// for the values of that block and the walks go on from the first value
// left, as the whole list once did.
void mark_group(ValueSet &seen, const Refs &refs, const uint32_t *first, uint32_t count) {
    node *walk[kGroup];
    for (uint32_t i = 0; i < count; ++i)
        walk[i] = refs.at(first[i]);
    for (;;) {
        seen.reset();
        bool full = false;
        for (bool more = true; more && !full;) {
            more = false;
            for (uint32_t i = 0; i < count && !full; ++i) {
                node *n = walk[i];
                if (n == nullptr)
                    continue;
                more = true;
                if (!is_repeat(n) && !seen.insert(n->data))
                    mark_repeat(n);
                walk[i] = refs.chain_next(n);
                full = seen.size() >= kBlock;
            }
        }
        if (!full)
            return;
        bool left = false;
        for (uint32_t i = 0; i < count; ++i) {
            node *resume = nullptr;
            for (node *n = walk[i]; n != nullptr; n = refs.chain_next(n)) {
                if (is_repeat(n))
                    continue;
                if (seen.contains(n->data))
                    mark_repeat(n);
                else if (resume == nullptr)
                    resume = n;
            }
            walk[i] = resume;
            left = left || resume != nullptr;
        }
        if (!left)
            return;
    }
}

struct Stop {
    node *prev; // the last node kept before `at`
    node *at;   // null when the list is done
};

// Steps 2 to 4 for the nodes after `kept`, the last node of the finished
// part, `seen` holding the values of that part. A node that cannot be
// referred to stops the spreading: the list is whole, the nodes before that
// one are free of the values in `seen`, and the node is returned with the
// one kept before it. Not inlined: its two tables of chains (24 KiB) would
// otherwise be on the stack of every call, short lists' too.
__attribute__((noinline)) Stop spread_and_purge(ValueSet &seen, node *kept) {
    uint32_t first[kChains] = {};
    uint32_t last[kChains] = {};
    const Refs refs(kept->next);

    node *prev = kept;
    for (node *at = kept->next; at != nullptr;) {
        prefetch_ahead(at);
        if (seen.contains(at->data)) {
            at = drop(prev, at);
            continue;
        }
        if (!refs.fits(at))
            return {prev, at};
        uint32_t chain = chain_of(at->data), ref = refs.ref(at);
        Refs::set_link(at, 0);
        if (last[chain] == 0)
            first[chain] = ref;
        else
            Refs::set_link(refs.at(last[chain]), ref);
        last[chain] = ref;
        prev = at;
        at = at->next;
    }

    for (uint32_t chain = 0; chain < kChains; chain += kGroup)
        mark_group(seen, refs, first + chain, std::min(kGroup, kChains - chain));

    prev = kept;
    for (node *at = kept->next; at != nullptr;) {
        prefetch_ahead(at);
        if (is_repeat(at)) {
            at->next = next_of(at); // the mark off, then out of the list
            at = drop(prev, at);
        } else {
            prev = at;
            at = at->next;
        }
    }
    return {nullptr, nullptr};
}
#endif

} // namespace

extern "C" void delete_duplicate_nodes(void) {
    if (head == nullptr) {
        std::puts("\n\tthe list is empty\n");
        return;
    }

    int32_t slots[kSlots];
    ValueSet seen(slots);
#if UINTPTR_MAX > 0xFFFFFFFFu
    bool spread = true;
#endif
    node *kept = nullptr; // last node of the part already free of repeats
    node *next = head;    // first node after that part
    while (next != nullptr) {
        seen.reset();
        // Collect the next block of first occurrences. Everything before it
        // holds other values, so a value met twice here is a repeat.
        node *at = next;
        while (at != nullptr && seen.size() < kBlock) {
            prefetch_ahead(at);
            if (seen.insert(at->data)) {
                kept = at;
                at = at->next;
            } else {
                at = drop(kept, at);
            }
        }
        node *prev = kept;
#if UINTPTR_MAX > 0xFFFFFFFFu
        if (at != nullptr && spread) {
            spread = false;
            Stop stop = spread_and_purge(seen, kept);
            if (stop.at == nullptr)
                return;
            prev = stop.prev;
            at = stop.at;
        }
#endif
        // Drop every later node holding a value of the block.
        while (at != nullptr) {
            prefetch_ahead(at);
            if (seen.contains(at->data)) {
                at = drop(prev, at);
            } else {
                prev = at;
                at = at->next;
            }
        }
        next = kept->next;
    }
}
