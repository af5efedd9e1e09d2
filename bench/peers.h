// SPDX-License-Identifier: MIT
// What a C or C++ programmer would write instead of listcore, each the
// idiomatic way: GLib's GSList (with a GHashTable to drop repeats) and
// std::forward_list (with a std::unordered_set). Benchmark only. Built
// without GLib (HAVE_GLIB unset: a cross build has none for its target),
// GList is a stand-in that does nothing, and the benchmark leaves its
// column out.
#pragma once

#if HAVE_GLIB
#include <glib.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <forward_list>
#include <iterator>
#include <unordered_set>
#include <vector>

namespace peers {

#if HAVE_GLIB
struct GList {
    static constexpr bool present = true;
    GSList *list = nullptr;

    void clear() {
        g_slist_free(list);
        list = nullptr;
    }
    void create(const std::vector<int32_t> &v) {
        for (int32_t x : v)
            list = g_slist_prepend(list, GINT_TO_POINTER(x));
        list = g_slist_reverse(list);
    }
    int32_t count() const { return static_cast<int32_t>(g_slist_length(list)); }
    int32_t search(int32_t key) const { return g_slist_index(list, GINT_TO_POINTER(key)); }
    void remove(int32_t key) { list = g_slist_remove(list, GINT_TO_POINTER(key)); }
    void put_back(int32_t key) {
        if (g_slist_find(list, GINT_TO_POINTER(key)) == nullptr)
            list = g_slist_append(list, GINT_TO_POINTER(key));
    }
    void swap(int32_t a, int32_t b) {
        GSList *x = g_slist_find(list, GINT_TO_POINTER(a));
        GSList *y = g_slist_find(list, GINT_TO_POINTER(b));
        if (x != nullptr && y != nullptr)
            std::swap(x->data, y->data);
    }
    void display() const {
        std::printf("\nThe data : ");
        for (GSList *l = list; l != nullptr; l = l->next)
            std::printf("%d  ", GPOINTER_TO_INT(l->data));
        std::puts("\n");
    }
    void drop_repeats() {
        GHashTable *seen = g_hash_table_new(g_direct_hash, g_direct_equal);
        GSList *prev = nullptr;
        for (GSList *l = list; l != nullptr;) {
            GSList *next = l->next;
            if (g_hash_table_add(seen, l->data)) {
                prev = l;
            } else {
                prev->next = next;
                g_slist_free_1(l);
            }
            l = next;
        }
        g_hash_table_destroy(seen);
    }
};
#else
struct GList {
    static constexpr bool present = false;
    void clear() {}
    void create(const std::vector<int32_t> &) {}
    int32_t count() const { return 0; }
    int32_t search(int32_t) const { return 0; }
    void remove(int32_t) {}
    void put_back(int32_t) {}
    void swap(int32_t, int32_t) {}
    void display() const {}
    void drop_repeats() {}
};
#endif

struct ForwardList {
    std::forward_list<int32_t> list;

    void clear() { list.clear(); }
    void create(const std::vector<int32_t> &v) { list.assign(v.begin(), v.end()); }
    int32_t count() const { return static_cast<int32_t>(std::distance(list.begin(), list.end())); }
    bool search(int32_t key) const {
        return std::find(list.begin(), list.end(), key) != list.end();
    }
    void remove(int32_t key) {
        for (auto prev = list.before_begin(), at = list.begin(); at != list.end(); prev = at++) {
            if (*at == key) {
                list.erase_after(prev);
                return;
            }
        }
    }
    void put_back(int32_t key) {
        auto last = list.before_begin();
        for (auto at = list.begin(); at != list.end(); last = at++) {
            if (*at == key)
                return;
        }
        list.insert_after(last, key);
    }
    void swap(int32_t a, int32_t b) {
        auto x = std::find(list.begin(), list.end(), a);
        auto y = std::find(list.begin(), list.end(), b);
        if (x != list.end() && y != list.end())
            std::iter_swap(x, y);
    }
    void display() const {
        std::printf("\nThe data : ");
        for (int32_t x : list)
            std::printf("%d  ", x);
        std::puts("\n");
    }
    void drop_repeats() {
        std::unordered_set<int32_t> seen;
        list.remove_if([&](int32_t x) { return !seen.insert(x).second; });
    }
};

} // namespace peers
