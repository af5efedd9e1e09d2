// SPDX-License-Identifier: MIT
// Random operation sequences against a plain vector model: after every step
// the list, the output, the result and the nodes allocated and freed must be
// what the model says. Small values make hits, misses and repeats common.
#include "list_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

// Applies operation `op` to the model and says what the list must do.
harness::Call model_step(Values &m, int op, int32_t x, int32_t y, const Values &batch) {
    harness::Call s;
    auto it = std::find(m.begin(), m.end(), x); // the first holder of x
    switch (op) {
    case 0:
        m.insert(m.end(), batch.begin(), batch.end());
        s.mallocs = static_cast<int>(batch.size());
        break;
    case 1:
        if (m.empty()) {
            s.out = "\n\tthe list is empty \n\n";
        } else {
            s.out = "\nThe data : ";
            for (int32_t v : m)
                s.out += std::to_string(v) + "  ";
            s.out += "\n\n";
        }
        break;
    case 2:
        if (m.empty())
            s.out = "\n\tThe list is empt \n\n";
        else if (it == m.end())
            s.out = "\n\tthe element not found\n\n";
        else
            m.erase(it), s.frees = 1;
        break;
    case 3: {
        if (x == y)
            break;
        if (m.empty()) {
            s.out = "\n\tthe list is empty\n\n";
            break;
        }
        auto other = std::find(m.begin(), m.end(), y);
        if (it == m.end() || other == m.end())
            s.out = "\n\tthe data not found\n\n";
        else
            std::iter_swap(it, other);
        break;
    }
    case 4:
        if (m.empty())
            s.out = "\n\tThe list is empty\n\n";
        else if (it == m.end())
            s.out = "\n\tthe element not found \n\n";
        else
            m.insert(it, y), s.mallocs = 1;
        break;
    case 5:
        if (m.empty())
            s.out = "\n\tthe list is empty \n\n";
        else if (it == m.end())
            s.out = "\n\tthe element not found in list \n\n";
        else
            m.insert(it + 1, y), s.mallocs = 1;
        break;
    case 6:
        if (m.empty())
            s.out = "\n\tthe list is empty\n\n";
        else
            m.erase(m.begin()), s.frees = 1;
        break;
    case 7: {
        if (m.empty()) {
            s.out = "\n\tthe list is empty\n\n";
            break;
        }
        Values unique;
        for (int32_t v : m)
            if (std::find(unique.begin(), unique.end(), v) == unique.end())
                unique.push_back(v);
        s.frees = static_cast<int>(m.size() - unique.size());
        m = unique;
        break;
    }
    case 8:
        if (m.empty())
            s.out = "\n\tthe list is empty \n\n", s.result = -1;
        else
            s.result = it == m.end() ? 0 : static_cast<int32_t>(it - m.begin() + 1);
        break;
    case 9:
        if (m.empty())
            s.out = "\n\tthe list is empty \n\n";
        s.result = static_cast<int32_t>(m.size());
        break;
    }
    return s;
}

TEST(ListModel, RandomSequencesMatchTheModel) {
    std::mt19937 rng(20261208);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int sequence = 0; sequence < 3000; ++sequence) {
        Values model;
        harness::reset(model);
        for (int step = 0; step < 40; ++step) {
            int op = pick(0, 9);
            int32_t x = pick(-2, 6), y = pick(-2, 6);
            Values batch(static_cast<size_t>(pick(0, 4)));
            for (int32_t &v : batch)
                v = pick(-2, 6);

            const harness::Op calls[] = {
                [&] { create_list(batch.data(), static_cast<int32_t>(batch.size())); },
                display,
                [&] { delete_node(x); },
                [&] { swap_nodes(x, y); },
                [&] { add_before_node(x, y); },
                [&] { add_after_node(x, y); },
                topdrop,
                delete_duplicate_nodes,
                [&] { return search_data(x); },
                cnt_nodes,
            };
            harness::Call want = model_step(model, op, x, y, batch);
            harness::Call got = harness::run(calls[op]);
            ASSERT_EQ(harness::contents(), model)
                << "sequence " << sequence << " step " << step << " op " << op;
            ASSERT_EQ(got.out, want.out) << "op " << op;
            ASSERT_EQ(got.result, want.result) << "op " << op;
            ASSERT_EQ(got.mallocs, want.mallocs) << "op " << op;
            ASSERT_EQ(got.frees, want.frees) << "op " << op;
        }
    }
    harness::reset({});
}

} // namespace
