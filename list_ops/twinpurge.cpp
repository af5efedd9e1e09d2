// SPDX-License-Identifier: MIT
// The list module twinpurge: keep the first node of every value.
//
// Comparing every node with every later one costs the square of the length.
// Instead the first occurrences are taken in blocks of up to kBlock values,
// held in a small open-addressing set on the stack (no heap: the operation
// only frees). Each block is collected in one walk that also drops repeats
// inside it, then one sweep over the rest of the list drops every node holding
// a value of the block. A list with few distinct values is done in one pass;
// the worst case is one pass per kBlock distinct values.
#include "list_internal.h"

#include <algorithm>
#include <climits>
#include <iterator>

namespace {

constexpr uint32_t kSlotBits = 13;
constexpr uint32_t kSlots = 1u << kSlotBits;
constexpr uint32_t kBlock = kSlots / 2; // keeps probe sequences short

// A set of int32_t values in one array of slots. Empty slots hold kEmpty;
// kEmpty itself, when it is a member, is only remembered by a flag.
class ValueSet {
  public:
    void clear() {
        std::fill(std::begin(slots_), std::end(slots_), kEmpty);
        has_empty_value_ = false;
        size_ = 0;
    }
    uint32_t size() const { return size_; }

    bool contains(int32_t v) const {
        if (v == kEmpty)
            return has_empty_value_;
        for (uint32_t i = slot(v);; i = (i + 1) & (kSlots - 1)) {
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
        for (; slots_[i] != kEmpty; i = (i + 1) & (kSlots - 1)) {
            if (slots_[i] == v)
                return false;
        }
        slots_[i] = v;
        ++size_;
        return true;
    }

  private:
    static constexpr int32_t kEmpty = INT32_MIN;

    static uint32_t slot(int32_t v) {
        return (static_cast<uint32_t>(v) * 0x9E3779B1u) >> (32 - kSlotBits);
    }

    int32_t slots_[kSlots];
    bool has_empty_value_;
    uint32_t size_;
};

} // namespace

extern "C" void delete_duplicate_nodes(void) {
    if (head == nullptr) {
        std::puts("\n\tthe list is empty\n");
        return;
    }

    ValueSet seen;
    node *kept = nullptr; // last node of the part already free of repeats
    node *next = head;    // first node after that part
    while (next != nullptr) {
        seen.clear();
        // Collect the next block of first occurrences. Everything before it
        // holds other values, so a value met twice here is a repeat.
        node *at = next;
        while (at != nullptr && seen.size() < kBlock) {
            if (seen.insert(at->data)) {
                kept = at;
                at = at->next;
            } else {
                node *gone = at;
                at = at->next;
                kept->next = at;
                std::free(gone);
            }
        }
        // Drop every later node holding a value of the block.
        node *prev = kept;
        while (at != nullptr) {
            if (seen.contains(at->data)) {
                node *gone = at;
                at = at->next;
                prev->next = at;
                std::free(gone);
            } else {
                prev = at;
                at = at->next;
            }
        }
        next = kept->next;
    }
}
