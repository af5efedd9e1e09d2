// SPDX-License-Identifier: MIT
#include "list_harness.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

node *head = nullptr;

namespace {
bool armed = false;
int fail_countdown = -1;
int mallocs = 0;
int frees = 0;
} // namespace

extern "C" void *__real_malloc(size_t size);
extern "C" void __real_free(void *p);

extern "C" void *__wrap_malloc(size_t size) {
    if (armed) {
        if (fail_countdown == 0)
            return nullptr;
        if (fail_countdown > 0)
            --fail_countdown;
        ++mallocs;
    }
    return __real_malloc(size);
}

extern "C" void __wrap_free(void *p) {
    if (armed && p != nullptr)
        ++frees;
    __real_free(p);
}

namespace harness {

Values contents() {
    Values v;
    for (const node *n = head; n != nullptr; n = n->next) {
        v.push_back(n->data);
        if (v.size() > 10'000'000) {
            ADD_FAILURE() << "the list does not end";
            break;
        }
    }
    return v;
}

void reset(const Values &values) {
    while (head != nullptr) {
        node *next = head->next;
        __real_free(head);
        head = next;
    }
    node **link = &head;
    for (int32_t v : values) {
        auto *n = static_cast<node *>(__real_malloc(sizeof(node)));
        *n = {v, nullptr};
        *link = n;
        link = &n->next;
    }
}

Call run(const Op &op) {
    static int capture = memfd_create("stdout", 0);
    std::fflush(stdout);
    int saved = dup(1);
    dup2(capture, 1);
    mallocs = frees = 0;
    armed = true;

    Call call;
    call.result = op();

    armed = false;
    call.mallocs = mallocs;
    call.frees = frees;
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);

    off_t size = lseek(capture, 0, SEEK_CUR);
    call.out.resize(static_cast<size_t>(size));
    if (pread(capture, call.out.data(), call.out.size(), 0) != size)
        ADD_FAILURE() << "cannot read the captured output";
    if (ftruncate(capture, 0) != 0 || lseek(capture, 0, SEEK_SET) != 0)
        ADD_FAILURE() << "cannot reset the capture";
    return call;
}

void fail_allocation_after(int countdown) {
    fail_countdown = countdown;
    armed = countdown >= 0;
}

} // namespace harness
