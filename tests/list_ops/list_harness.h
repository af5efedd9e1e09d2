// SPDX-License-Identifier: MIT
// What the list tests share: the list as a vector, standard output captured
// around a call, and the allocator seen by the list code (linked with
// --wrap=malloc,--wrap=free) counted and made to fail on demand.
#pragma once

#include "listcore.h"

#include <cstdint>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

using Values = std::vector<int32_t>;

namespace harness {

// The list from head, checking that the chain ends within a sane length.
Values contents();
// Replaces the list with fresh nodes holding values (allocated outside the
// counted allocator), freeing the old ones.
void reset(const Values &values);

struct Call {
    std::string out;    // what the call wrote on standard output
    int32_t result = 0; // its result (0 for the operations returning none)
    int mallocs = 0;    // nodes allocated and freed by the call
    int frees = 0;
};
// An operation: a call that returns a result, or none (taken as 0).
struct Op : std::function<int32_t()> {
    template <typename F>
    Op(F f)
        : std::function<int32_t()>([f]() -> int32_t {
              if constexpr (std::is_void_v<std::invoke_result_t<F>>)
                  return f(), 0;
              else
                  return f();
          }) {}
};
Call run(const Op &op);

// The next `countdown` allocations of the list code succeed, the one after
// fails; -1 switches failures off.
void fail_allocation_after(int countdown);

} // namespace harness
