// SPDX-License-Identifier: MIT
// The list operations on large lists against plain C references, in the same
// run. Usage: list_bench [--check]
#include "race.h"
#include "reference.h"

#include <cstdlib>
#include <numeric>
#include <random>
#include <sys/mman.h>
#include <unistd.h>

node *head = nullptr;

namespace {

using bench::Side;
using Values = std::vector<int32_t>;

constexpr int32_t kMillion = 1'000'000;

void clear_list() {
    while (head != nullptr) {
        node *next = head->next;
        std::free(head);
        head = next;
    }
}

void build(const Values &v) {
    clear_list();
    ref_create_list(v.data(), static_cast<int32_t>(v.size()));
}

Values distinct(int32_t n, unsigned seed) {
    Values v(static_cast<size_t>(n));
    std::iota(v.begin(), v.end(), 0);
    std::shuffle(v.begin(), v.end(), std::mt19937(seed));
    return v;
}

Values drawn_from(int32_t n, int32_t kinds, unsigned seed) {
    std::mt19937 rng(seed);
    Values v(static_cast<size_t>(n));
    for (int32_t &x : v)
        x = static_cast<int32_t>(rng() % static_cast<unsigned>(kinds));
    return v;
}

// What a display function writes, captured through stdout.
std::string output_of(void (*show)()) {
    std::fflush(stdout);
    int saved = dup(1), mem = memfd_create("display", 0);
    dup2(mem, 1);
    show();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string text(static_cast<size_t>(lseek(mem, 0, SEEK_END)), '\0');
    if (pread(mem, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
        text = "(unreadable)";
    close(mem);
    return text;
}

void walks(bench::Report &report) {
    const Values million = distinct(kMillion, 1);
    const int32_t absent = -1, first = million.front(), last = million.back();
    auto nothing = [] {};
    auto empty = [] { clear_list(); };
    const int runs = 11;

    report.row("create_list, 1,000,000 values",
               bench::race(runs, {empty, [&] { create_list(million.data(), kMillion); }},
                           {empty, [&] { ref_create_list(million.data(), kMillion); }}),
               1.15);
    build(million);
    volatile int32_t sink = 0;
    report.row("search_data (absent), 1,000,000 nodes",
               bench::race(runs, {nothing, [&] { sink = search_data(absent); }},
                           {nothing, [&] { sink = ref_search_data(absent); }}),
               1.15);
    report.row("cnt_nodes, 1,000,000 nodes",
               bench::race(runs, {nothing, [&] { sink = cnt_nodes(); }},
                           {nothing, [&] { sink = ref_cnt_nodes(); }}),
               1.15);
    // Each run removes the last node and the next setup puts it back: the
    // allocator hands the same block again, so both sides walk the very same
    // nodes (a list rebuilt from scratch can land in another memory order,
    // which alone moves a walk's time by 10% and more).
    auto put_back_last = [&] {
        if (ref_search_data(last) == 0)
            ref_create_list(&last, 1);
    };
    report.row("delete_node (last node), 1,000,000 nodes",
               bench::race(runs, {put_back_last, [&] { delete_node(last); }},
                           {put_back_last, [&] { ref_delete_node(last); }}),
               1.15);
    build(million);
    report.row("swap_nodes (first and last), 1,000,000 nodes",
               bench::race(runs, {nothing, [&] { swap_nodes(first, last); }},
                           {nothing, [&] { ref_swap_nodes(first, last); }}),
               1.15);
    (void)sink;

    // display to /dev/null; both must write the very same bytes.
    build(million);
    if (output_of(display) != output_of(ref_display)) {
        report.note("display: output differs from one printf per node  MISSED");
        report.row("display (output differs!)", {1, 0}, 1);
    }
    std::fflush(stdout);
    int saved = dup(1);
    if (!std::freopen("/dev/null", "w", stdout))
        std::abort();
    bench::Times shown = bench::race(runs,
                                     {nothing,
                                      [] {
                                          display();
                                          std::fflush(stdout);
                                      }},
                                     {nothing, [] {
                                          ref_display();
                                          std::fflush(stdout);
                                      }});
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    report.row("display to /dev/null, 1,000,000 nodes (same bytes)", shown, 1.0 / 3);
    clear_list();
}

void duplicates(bench::Report &report) {
    const Values v30k = distinct(30'000, 2);
    report.row("delete_duplicate_nodes, 30,000 distinct values",
               bench::race(3, {[&] { build(v30k); }, delete_duplicate_nodes},
                           {[&] { build(v30k); }, ref_delete_duplicate_nodes}),
               0.01);

    const Values few = drawn_from(kMillion, 1000, 3);
    report.row("delete_duplicate_nodes, 1,000,000 nodes of 1,000 values",
               bench::race(5, {[&] { build(few); }, delete_duplicate_nodes},
                           {clear_list, [&] { create_list(few.data(), kMillion); }}),
               1.0);
    report.note("  (reference: create_list building that same list)");
    // The floor under that figure: the 999,000 free() calls the operation
    // owes, on their own, against building the list.
    report.row("  free() of the 999,000 repeats alone",
               bench::race(5,
                           {[&] { build(few); },
                            [] {
                                node *rest = head->next;
                                head->next = nullptr;
                                for (int i = 1; i < 1000; ++i) // keep 1,000 nodes
                                    rest = rest->next;
                                while (rest != nullptr) {
                                    node *next = rest->next;
                                    std::free(rest);
                                    rest = next;
                                }
                            }},
                           {clear_list, [&] { create_list(few.data(), kMillion); }}),
               0);

    const Values all = distinct(kMillion, 4);
    report.row("delete_duplicate_nodes, 1,000,000 distinct values",
               bench::race(3, {[&] { build(all); }, delete_duplicate_nodes},
                           {clear_list, [&] { create_list(all.data(), kMillion); }}),
               0);
    report.note("  (reference: create_list building that same list)");
    clear_list();

    // How the cost grows: distinct values, the worst case for both.
    std::fprintf(report.out(), "\ndelete_duplicate_nodes on n distinct values (median ms)\n");
    std::fprintf(report.out(), "%10s %14s %16s\n", "n", "project", "quadratic walk");
    for (int32_t n : {1'000, 3'000, 10'000, 30'000, 100'000, 300'000, 1'000'000}) {
        const Values v = distinct(n, 5);
        Side ours{[&] { build(v); }, delete_duplicate_nodes};
        double mine = bench::median({bench::time_ms(ours.setup, ours.run),
                                     bench::time_ms(ours.setup, ours.run),
                                     bench::time_ms(ours.setup, ours.run)});
        if (n <= 100'000) {
            double quad = bench::time_ms([&] { build(v); }, ref_delete_duplicate_nodes);
            std::fprintf(report.out(), "%10d %14.3f %16.3f\n", n, mine, quad);
        } else {
            std::fprintf(report.out(), "%10d %14.3f %16s\n", n, mine, "(hours)");
        }
    }
    clear_list();
}

} // namespace

int main(int argc, char **argv) {
    bench::Report report(stderr);
    walks(report);
    duplicates(report);
    if (report.missed() != 0) {
        std::fprintf(stderr, "%d target(s) missed\n", report.missed());
        if (bench::has_flag(argc, argv, "--check"))
            return 1;
    }
    return 0;
}
