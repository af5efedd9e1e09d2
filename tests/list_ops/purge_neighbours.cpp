// SPDX-License-Identifier: MIT
// delete_duplicate_nodes writes nothing but the nodes' own bytes: 5,000
// distinct values, then 100 repeats of the later ones, with objects of the
// program's own among the nodes. Built with the dense allocator
// (dense_malloc.cpp), and run as it is under glibc's checking allocator.
#include "listcore.h"

#include <cstdio>
#include <cstdlib>
#include <malloc.h>

node *head = nullptr;

int main() {
    // glibc's checking allocator gives a block the very size asked for.
    if (std::getenv("MALLOC_CHECK_") != nullptr && malloc_usable_size(std::malloc(5)) != 5)
        return std::puts("FAIL: MALLOC_CHECK_ set, but glibc's checking allocator not in use"), 1;
    // Past the first 4,096 values: {1, 16}, which reads like malloc's size
    // word of a 16-byte block, then a node and a live object {7, 7}; again
    // {1, 16}, then two nodes side by side.
    const int32_t was[3][2] = {{1, 16}, {7, 7}, {1, 16}};
    int32_t *planted[3];
    int placed = 0, failures = 0;
    auto plant = [&] {
        planted[placed] = static_cast<int32_t *>(std::malloc(8));
        planted[placed][0] = was[placed][0], planted[placed][1] = was[placed][1], ++placed;
    };
    node **link = &head;
    for (int32_t i = 0; i < 5100; ++i) {
        if (i == 4096 || i == 4097)
            plant();
        *link = static_cast<node *>(std::malloc(sizeof(node)));
        **link = {i < 5000 ? i + 1 : i - 5000 + 4501, nullptr};
        link = &(*link)->next;
        if (i == 4096)
            plant();
    }
    delete_duplicate_nodes();

    int32_t want = 1;
    for (node *n = head, *next; n != nullptr; n = next, ++want) {
        if (n->data != want && failures++ < 5)
            std::printf("FAIL: node %d holds %d, not %d\n", want, n->data, want);
        next = n->next;
        std::free(n);
    }
    if (want != 5001 && ++failures)
        std::printf("FAIL: %d values left, not 5000\n", want - 1);
    for (int k = 0; k < 3; std::free(planted[k++]))
        if ((planted[k][0] != was[k][0] || planted[k][1] != was[k][1]) && ++failures)
            std::printf("FAIL: the program's object {%d, %d} now reads {%d, %d}\n", was[k][0],
                        was[k][1], planted[k][0], planted[k][1]);
    return failures != 0;
}
