// SPDX-License-Identifier: MIT
// Each operation group as a table: the list before, the call, the list after,
// what it wrote, what it returned, and how many nodes it allocated and freed.
#include "chains.h"
#include "list_harness.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <sys/mman.h>
#include <unordered_set>

namespace {

struct Case {
    const char *what;
    Values before;
    harness::Op call;
    Values after;
    std::string out = "";
    int32_t result = 0;
    int mallocs = 0;
    int frees = 0;
};

void check(const std::vector<Case> &table) {
    for (const Case &c : table) {
        SCOPED_TRACE(c.what);
        harness::reset(c.before);
        harness::Call got = harness::run(c.call);
        EXPECT_EQ(harness::contents(), c.after);
        EXPECT_EQ(got.out, c.out);
        EXPECT_EQ(got.result, c.result);
        EXPECT_EQ(got.mallocs, c.mallocs);
        EXPECT_EQ(got.frees, c.frees);
    }
}

const Values k12{1, 2}, k123{1, 2, 3};

TEST(BuildAndPrint, Table) {
    static const int32_t values[] = {1, 2, 3};
    const Values extremes{1, -2, 0, INT32_MIN, INT32_MAX, 1};
    check({
        {"create on empty", {}, [] { create_list(values, 3); }, {1, 2, 3}, "", 0, 3},
        {"count 0 builds nothing", {}, [] { create_list(values, 0); }, {}},
        {"negative count", {4}, [] { create_list(values, -1); }, {4}},
        {"appends", {7, 8}, [] { create_list(values, 2); }, {7, 8, 1, 2}, "", 0, 2},
        {"display empty", {}, display, {}, "\n\tthe list is empty \n\n"},
        {"display one", {7}, display, {7}, "\nThe data : 7  \n\n"},
        {"display extremes", extremes, display, extremes,
         "\nThe data : 1  -2  0  -2147483648  2147483647  1  \n\n"},
    });
}

TEST(BuildAndPrint, LongListPrintsLikePrintf) {
    // Long enough to cross the formatting buffer many times, with values of
    // every width.
    Values v;
    for (int64_t p = 1; p <= 1'000'000'000; p *= 10) // each width's first and last
        for (int64_t x : {p, p - 1, -p, 1 - p, p * 2 - 1})
            v.push_back(static_cast<int32_t>(x));
    for (int32_t i = 0; i < 5001; ++i) // an odd count: the last value goes alone
        v.push_back((i % 7 == 0) ? INT32_MIN + i : (i * 7919) * ((i & 1) ? -1 : 1));
    std::string want = "\nThe data : ";
    for (int32_t x : v) {
        char text[16];
        std::snprintf(text, sizeof text, "%d  ", x);
        want += text;
    }
    want += "\n\n";
    harness::reset(v);
    EXPECT_EQ(harness::run(display).out, want);
}

TEST(RemoveAndSwap, Table) {
    const Values k12345{1, 2, 3, 4, 5};
    check({
        {"delete only node", {4}, [] { delete_node(4); }, {}, "", 0, 0, 1},
        {"delete first of repeats", {2, 5, 2}, [] { delete_node(2); }, {5, 2}, "", 0, 0, 1},
        {"delete inner", {1, 2, 3}, [] { delete_node(2); }, {1, 3}, "", 0, 0, 1},
        {"delete last", {1, 2, 3}, [] { delete_node(3); }, {1, 2}, "", 0, 0, 1},
        {"delete absent", k12, [] { delete_node(9); }, k12, "\n\tthe element not found\n\n"},
        {"delete on empty", {}, [] { delete_node(1); }, {}, "\n\tThe list is empt \n\n"},
        {"swap apart", k12345, [] { swap_nodes(2, 4); }, {1, 4, 3, 2, 5}},
        {"swap ends", k12345, [] { swap_nodes(1, 5); }, {5, 2, 3, 4, 1}},
        {"swap reversed arguments", k12345, [] { swap_nodes(4, 1); }, {4, 2, 3, 1, 5}},
        {"swap neighbours at head", k123, [] { swap_nodes(1, 2); }, {2, 1, 3}},
        {"swap neighbours at tail", k123, [] { swap_nodes(3, 2); }, {1, 3, 2}},
        {"swap first holders", {1, 2, 1}, [] { swap_nodes(1, 2); }, {2, 1, 1}},
        {"swap equal on empty", {}, [] { swap_nodes(5, 5); }, {}},
        {"swap on empty", {}, [] { swap_nodes(1, 2); }, {}, "\n\tthe list is empty\n\n"},
        {"swap one absent", k12, [] { swap_nodes(1, 9); }, k12, "\n\tthe data not found\n\n"},
        {"swap other absent", k12, [] { swap_nodes(9, 2); }, k12, "\n\tthe data not found\n\n"},
    });
}

TEST(RemoveAndSwap, SwapMovesNodesNotValues) {
    harness::reset({1, 2, 3, 4});
    node *one = head;
    node *four = head->next->next->next;
    harness::run([] { swap_nodes(1, 4); });
    EXPECT_EQ(head, four);
    EXPECT_EQ(head->next->next->next, one);
    EXPECT_EQ(one->data, 1);
    EXPECT_EQ(one->next, nullptr);
}

TEST(Insert, Table) {
    check({
        {"before head", {1, 2}, [] { add_before_node(1, 0); }, {0, 1, 2}, "", 0, 1},
        {"before first holder", {1, 2, 2}, [] { add_before_node(2, 9); }, {1, 9, 2, 2}, "", 0, 1},
        {"before absent", k12, [] { add_before_node(5, 9); }, k12,
         "\n\tthe element not found \n\n"},
        {"before on empty", {}, [] { add_before_node(1, 9); }, {}, "\n\tThe list is empty\n\n"},
        {"after inner", k123, [] { add_after_node(2, 9); }, {1, 2, 9, 3}, "", 0, 1},
        {"after last", k123, [] { add_after_node(3, 9); }, {1, 2, 3, 9}, "", 0, 1},
        {"after first holder", {4, 4}, [] { add_after_node(4, 4); }, {4, 4, 4}, "", 0, 1},
        {"after absent", k12, [] { add_after_node(5, 9); }, k12,
         "\n\tthe element not found in list \n\n"},
        {"after on empty", {}, [] { add_after_node(1, 9); }, {}, "\n\tthe list is empty \n\n"},
    });
}

TEST(HeadAndDuplicateRemoval, Table) {
    check({
        {"drop top", {3, 2, 1}, topdrop, {2, 1}, "", 0, 0, 1},
        {"drop only", {3}, topdrop, {}, "", 0, 0, 1},
        {"drop on empty", {}, topdrop, {}, "\n\tthe list is empty\n\n"},
        {"purge mixed", {1, 2, 1, 3, 2, 1}, delete_duplicate_nodes, {1, 2, 3}, "", 0, 0, 3},
        {"purge all same", {5, 5, 5}, delete_duplicate_nodes, {5}, "", 0, 0, 2},
        {"purge distinct", {3, 1, 2}, delete_duplicate_nodes, {3, 1, 2}},
        {"purge zero and negatives", {0, -1, 0, -1}, delete_duplicate_nodes, {0, -1}, "", 0, 0, 2},
        {"purge extremes",
         {INT32_MIN, 0, INT32_MAX, INT32_MIN, 0, INT32_MAX},
         delete_duplicate_nodes,
         {INT32_MIN, 0, INT32_MAX},
         "",
         0,
         0,
         3},
        {"purge on empty", {}, delete_duplicate_nodes, {}, "\n\tthe list is empty\n\n"},
    });
}

// Lists past the first block of distinct values, which are spread over
// chains by value: repeats far apart and next to each other, extreme values,
// more values in one group of chains than the set holds, and a node the
// chains cannot refer to (off malloc's 16-byte boundary, or far from the
// others), which sends the rest down the block-by-block fallback.
TEST(HeadAndDuplicateRemoval, PurgeLongLists) {
    Values spread; // 20,000 values, repeats inside and after
    for (int32_t i = 0; i < 20000; ++i)
        spread.push_back(i * 104729 % 20011 - 10000);
    for (int32_t i = 0; i < 20000; i += 3)
        spread.push_back(spread[static_cast<size_t>(i)]);
    for (int32_t i = 19999; i >= 0; i -= 7)
        spread.insert(spread.begin() + i + 1, spread[static_cast<size_t>(i)]);
    spread.insert(spread.end(), {INT32_MIN, INT32_MAX, INT32_MIN, 0, INT32_MAX});
    Values crowded, group; // 5,000 values, then 10,000 of two chains, twice
    for (int32_t v = 1; crowded.size() < 5000; ++v)
        if (chain_of(v) > 1)
            crowded.push_back(v);
    for (int32_t v = -1; group.size() < 10000; --v)
        if (chain_of(v) <= 1)
            group.push_back(v);
    crowded.insert(crowded.end(), group.begin(), group.end());
    crowded.insert(crowded.end(), group.rbegin(), group.rend());

    alignas(16) static unsigned char aside[32];
    // Mappings lie terabytes away from malloc's heap.
    void *far_away =
        mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(far_away, MAP_FAILED);
    struct Case {
        const char *what;
        const Values &values;
        void *odd = nullptr; // a node of the caller's
    } table[] = {
        {"spread", spread},
        {"crowded group", crowded},
        {"off the boundary", spread, aside + 8},
        {"far from the others", spread, far_away},
    };
    for (const Case &c : table) {
        SCOPED_TRACE(c.what);
        Values list = c.values;
        list.push_back(12345678); // a repeat of the odd node's value
        harness::reset(list);
        node *odd = static_cast<node *>(c.odd);
        if (odd != nullptr) { // in the middle of the second block
            node *before = head;
            for (int i = 0; i < 6000; ++i)
                before = before->next;
            *odd = {12345678, before->next};
            before->next = odd;
        }
        // The very nodes that must stay: the first of each value.
        std::vector<const node *> want, kept;
        std::unordered_set<int32_t> seen;
        for (const node *n = head; n != nullptr; n = n->next)
            if (seen.insert(n->data).second)
                want.push_back(n);
        harness::Call got = harness::run(delete_duplicate_nodes);
        for (const node *n = head; n != nullptr && kept.size() <= want.size(); n = n->next)
            kept.push_back(n);
        EXPECT_TRUE(kept == want);
        EXPECT_EQ(got.frees, static_cast<int>(list.size() + (odd != nullptr) - want.size()));
        EXPECT_EQ(got.mallocs, 0);
        for (node **link = &head; *link != nullptr; link = &(*link)->next)
            if (*link == odd)
                *link = odd->next; // not the harness's to free
    }
    munmap(far_away, 4096);
}

TEST(Queries, Table) {
    const Values k787{7, 8, 7};
    check({
        {"search first", k787, [] { return search_data(7); }, k787, "", 1},
        {"search second", k787, [] { return search_data(8); }, k787, "", 2},
        {"search absent", {7, 8}, [] { return search_data(9); }, {7, 8}, "", 0},
        {"search empty", {}, [] { return search_data(9); }, {}, "\n\tthe list is empty \n\n", -1},
        {"count", k787, cnt_nodes, k787, "", 3},
        {"count empty", {}, cnt_nodes, {}, "\n\tthe list is empty \n\n", 0},
    });
}

// Running out of memory: the operation's own line reaches standard output
// even when it is a pipe, the process ends through exit() with status 255,
// and the list is as it was (shown by a display() run at exit); in
// create_list the failure comes after some nodes were built.
TEST(OutOfMemory, EndsWithTheOperationsMessage) {
    struct Death {
        const char *what;
        std::function<void()> call;
        int countdown;
        const char *line;
    };
    static const int32_t values[] = {1, 2, 3, 4};
    const Death table[] = {
        {"create_list", [] { create_list(values, 4); }, 2, "\n\tfailed to allocate memory\n\n"},
        {"add_before_node", [] { add_before_node(2, 9); }, 0,
         "\n\tfailed to alloc the memory in heap\n\n"},
        {"add_after_node", [] { add_after_node(2, 9); }, 0,
         "\n\tfailed to alloc the memory in heap\n\n"},
    };
    for (const Death &d : table) {
        SCOPED_TRACE(d.what);
        harness::reset({1, 2});
        EXPECT_EXIT(
            {
                // Standard output to the stream the death test reads, fully
                // buffered as for a pipe: only exit() can flush it.
                dup2(2, 1);
                setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
                std::fputs("before|", stdout);
                std::atexit([] { display(); });
                harness::fail_allocation_after(d.countdown);
                d.call();
                std::fputs("|after", stdout);
            },
            testing::ExitedWithCode(255),
            testing::EndsWith(std::string("before|") + d.line + "\nThe data : 1  2  \n\n"));
    }
}

} // namespace
