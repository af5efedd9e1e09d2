// SPDX-License-Identifier: MIT
// The list operations on large lists, in the same run as plain C references
// and as the peers a programmer would use instead (GSList, std::forward_list).
// Usage: list_bench [--check] [--plot FILE] [--only walks|duplicates|growth]
//   --plot FILE: also write the growth of duplicate removal, for gnuplot
#include "peers.h"
#include "race.h"
#include "reference.h"

#include <cstdlib>
#include <malloc.h>
#include <numeric>
#include <random>
#include <signal.h>
#include <sys/mman.h>
#include <sys/time.h>
#include <unistd.h>

node *head = nullptr;

namespace {

using bench::Side;
using Values = std::vector<int32_t>;

constexpr int32_t kMillion = 1'000'000;

// The columns of every row: listcore first.
enum Column : size_t { kListcore, kPlain, kGList, kForwardList };

peers::GList glist;
peers::ForwardList flist;

// The GSList side, or none where the benchmark is built without GLib.
Side gslist(Side side) {
    return peers::GList::present ? side : Side{};
}

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

void clear_all() {
    clear_list();
    glist.clear();
    flist.clear();
    // Freed nodes would be handed out again last first, laying the next
    // list out backwards: give every side fresh memory in allocation order.
    malloc_trim(0);
}

// Each side's list holding v, and nothing else in memory.
void build_all(const Values &v) {
    clear_all();
    ref_create_list(v.data(), static_cast<int32_t>(v.size()));
    glist.create(v);
    flist.create(v);
}

Values distinct(int32_t n, unsigned seed) {
    Values v(static_cast<size_t>(n));
    std::iota(v.begin(), v.end(), 0);
    std::shuffle(v.begin(), v.end(), std::mt19937(seed));
    return v;
}

Values ascending(int32_t n) {
    Values v(static_cast<size_t>(n));
    std::iota(v.begin(), v.end(), 0);
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
std::string output_of(const std::function<void()> &show) {
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
    const int runs = 9;
    const double walk_target = 1.05;
    const std::vector<size_t> forward_list{kForwardList};

    clear_all();
    report.sides_row(
        "create, 1,000,000 values",
        bench::race_all(runs, {{clear_list, [&] { create_list(million.data(), kMillion); }},
                               {clear_list, [&] { ref_create_list(million.data(), kMillion); }},
                               gslist({[] { glist.clear(); }, [&] { glist.create(million); }}),
                               {[] { flist.clear(); }, [&] { flist.create(million); }}}),
        forward_list, walk_target);

    build_all(million);
    volatile int32_t sink = 0;
    report.sides_row("count, 1,000,000 nodes",
                     bench::race_all(runs, {{nothing, [&] { sink = cnt_nodes(); }},
                                            {nothing, [&] { sink = ref_cnt_nodes(); }},
                                            gslist({nothing, [&] { sink = glist.count(); }}),
                                            {nothing, [&] { sink = flist.count(); }}}),
                     forward_list, walk_target);
    report.sides_row("search (absent value), 1,000,000 nodes",
                     bench::race_all(runs, {{nothing, [&] { sink = search_data(absent); }},
                                            {nothing, [&] { sink = ref_search_data(absent); }},
                                            gslist({nothing, [&] { sink = glist.search(absent); }}),
                                            {nothing, [&] { sink = flist.search(absent); }}}),
                     forward_list, walk_target);
    // Each run removes the last node and the next setup puts it back: the
    // allocator hands the same block again, so every side walks the very
    // same nodes each time (a list rebuilt from scratch can land in another
    // memory order, which alone moves a walk's time by 10% and more).
    report.sides_row(
        "delete (last node), 1,000,000 nodes",
        bench::race_all(runs, {{[&] {
                                    if (ref_search_data(last) == 0)
                                        ref_create_list(&last, 1);
                                },
                                [&] { delete_node(last); }},
                               {[&] {
                                    if (ref_search_data(last) == 0)
                                        ref_create_list(&last, 1);
                                },
                                [&] { ref_delete_node(last); }},
                               gslist({[&] { glist.put_back(last); }, [&] { glist.remove(last); }}),
                               {[&] { flist.put_back(last); }, [&] { flist.remove(last); }}}),
        forward_list, walk_target);
    glist.put_back(last);
    flist.put_back(last);
    if (ref_search_data(last) == 0)
        ref_create_list(&last, 1);
    report.sides_row("swap (first and last), 1,000,000 nodes",
                     bench::race_all(runs, {{nothing, [&] { swap_nodes(first, last); }},
                                            {nothing, [&] { ref_swap_nodes(first, last); }},
                                            gslist({nothing, [&] { glist.swap(first, last); }}),
                                            {nothing, [&] { flist.swap(first, last); }}}),
                     forward_list, walk_target);
    (void)sink;

    // display to /dev/null; it must write the very same bytes as one printf
    // per node.
    build_all(million);
    if (output_of(display) != output_of(ref_display)) {
        report.note("display: output differs from one printf per node");
        report.sides_row("display (output differs!)", {1, 0, 0, 0}, {kPlain}, 0);
    }
    std::fflush(stdout);
    int saved = dup(1);
    if (!std::freopen("/dev/null", "w", stdout))
        std::abort();
    auto flushed = [](void (*show)()) {
        return [show] {
            show();
            std::fflush(stdout);
        };
    };
    std::vector<double> shown =
        bench::race_all(runs, {{nothing, flushed(display)},
                               {nothing, flushed(ref_display)},
                               gslist({nothing, flushed([] { glist.display(); })}),
                               {nothing, flushed([] { flist.display(); })}});
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    report.sides_row("display to /dev/null (vs one printf per node)", shown, {kPlain}, 0.15);
    clear_all();
}

// The deepest the stack went below the caller's frame during fn(): the
// area below is filled with a pattern first, and the first byte changed is
// sought afterwards.
constexpr size_t kPainted = 512 * 1024;
constexpr unsigned char kPaint = 0xA5;

__attribute__((noinline)) uintptr_t paint_stack() {
    unsigned char area[kPainted];
    std::memset(area, kPaint, sizeof area);
    asm volatile("" : : "r"(area) : "memory");
    return reinterpret_cast<uintptr_t>(area);
}

__attribute__((noinline)) size_t stack_used(void (*fn)()) {
    uintptr_t area = paint_stack();
    fn();
    const volatile unsigned char *p = reinterpret_cast<const volatile unsigned char *>(area);
    size_t untouched = 0;
    while (untouched < kPainted && p[untouched] == kPaint)
        ++untouched;
    return kPainted - untouched;
}

void duplicates(bench::Report &report) {
    const std::vector<size_t> peers{kGList, kForwardList};
    const double not_run = -1;
    // A 32-bit node has no padding to spread the list by: past 4,096
    // distinct values the operation takes a pass over the rest of the list
    // per 4,096 of them, and its figures there are for the record.
    const bool spreads = sizeof(void *) == 8;
    if (!spreads)
        report.note("32-bit: duplicate removal goes a block of 4,096 distinct values a pass; "
                    "its rows of distinct values are figures only");
    struct Case {
        const char *what;
        Values values;
        double target;
    };
    const Case cases[] = {
        {"duplicate removal, 1,000,000 nodes of 1,000 values", drawn_from(kMillion, 1000, 3), 0.75},
        {"duplicate removal, 1,000,000 distinct, ascending", ascending(kMillion),
         spreads ? 4.0 : 0},
        {"duplicate removal, 1,000,000 distinct, shuffled", distinct(kMillion, 4),
         spreads ? 4.0 : 0},
    };
    for (const Case &c : cases) {
        clear_all();
        std::vector<double> ms =
            bench::race_all(5, {{[&] { build(c.values); }, delete_duplicate_nodes},
                                gslist({[&] {
                                            glist.clear();
                                            glist.create(c.values);
                                        },
                                        [] { glist.drop_repeats(); }}),
                                {[&] {
                                     flist.clear();
                                     flist.create(c.values);
                                 },
                                 [] { flist.drop_repeats(); }}});
        ms.insert(ms.begin() + kPlain, not_run);
        report.sides_row(c.what, ms, peers, c.target);
    }

    // The stack duplicate removal takes, the free() calls included, on a
    // list that uses every part of it.
    build(cases[2].values);
    report.limit_row("duplicate removal: stack used",
                     static_cast<double>(stack_used(delete_duplicate_nodes)) / 1024, "KiB", 64);
    clear_all();
}

// A line every 10 s while a long run goes on.
extern "C" void still_running(int) {
    static const char line[] = "           ... still running\n";
    ssize_t written = write(2, line, sizeof line - 1);
    (void)written;
}

void ticking(bool on) {
    struct sigaction action = {};
    action.sa_handler = on ? still_running : SIG_DFL;
    action.sa_flags = SA_RESTART;
    sigaction(SIGALRM, &action, nullptr);
    itimerval every = {{on ? 10 : 0, 0}, {on ? 10 : 0, 0}};
    setitimer(ITIMER_REAL, &every, nullptr);
}

// How duplicate removal grows with n distinct values (shuffled), the worst
// case for the quadratic walk: each side's median of 3 (the quadratic walk
// once, as long as one run is expected to take under kAffordable seconds).
void growth(bench::Report &report, const char *plot) {
    constexpr double kAffordable = 15;
    FILE *data = plot != nullptr ? std::fopen(plot, "w") : nullptr;
    if (plot != nullptr && data == nullptr) {
        std::perror(plot);
        std::exit(1);
    }
    std::fprintf(report.out(), "\nduplicate removal on n distinct values, shuffled (median ms)\n");
    std::fprintf(report.out(), "%10s %12s %16s %12s %14s\n", "n", "listcore", "quadratic walk",
                 "GSList", "forward_list");
    if (data != nullptr)
        std::fprintf(data, "# n listcore quadratic GSList forward_list (ms; - not run)\n");
    double quad_n = 0, quad_ms = 0;
    for (int32_t n :
         {1'000, 2'000, 5'000, 10'000, 20'000, 50'000, 100'000, 200'000, 500'000, 1'000'000}) {
        const Values v = distinct(n, 5);
        clear_all();
        std::vector<double> ms = bench::race_all(3, {{[&] { build(v); }, delete_duplicate_nodes},
                                                     gslist({[&] {
                                                                 glist.clear();
                                                                 glist.create(v);
                                                             },
                                                             [] { glist.drop_repeats(); }}),
                                                     {[&] {
                                                          flist.clear();
                                                          flist.create(v);
                                                      },
                                                      [] { flist.drop_repeats(); }}});
        double expected = quad_n == 0 ? 0 : quad_ms * (n / quad_n) * (n / quad_n) / 1000;
        char quad[32] = "-";
        if (expected < kAffordable) {
            if (expected > 5) {
                std::fprintf(report.out(), "%10d   (the quadratic walk: about %.0f s)\n", n,
                             expected);
                std::fflush(report.out());
            }
            ticking(true);
            quad_ms = bench::time_ms([&] { build(v); }, ref_delete_duplicate_nodes);
            ticking(false);
            quad_n = n;
            std::snprintf(quad, sizeof quad, "%.3f", quad_ms);
        }
        char gslist_ms[32] = "-";
        if (ms[1] >= 0)
            std::snprintf(gslist_ms, sizeof gslist_ms, "%.3f", ms[1]);
        std::fprintf(report.out(), "%10d %12.3f %16s %12s %14.3f\n", n, ms[0], quad, gslist_ms,
                     ms[2]);
        std::fflush(report.out());
        if (data != nullptr)
            std::fprintf(data, "%d %.4f %s %s %.4f\n", n, ms[0], quad, gslist_ms, ms[2]);
    }
    std::fprintf(report.out(), "(the quadratic walk ran up to n = %.0f)\n", quad_n);
    if (data != nullptr)
        std::fclose(data);
    clear_all();
}

const char *option_value(int argc, char **argv, const char *name) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return argv[i + 1];
    return nullptr;
}

} // namespace

int main(int argc, char **argv) {
    bench::Report report(stderr, false);
    std::fprintf(stderr, "%-52s %12s %12s %12s %12s %8s %8s\n", "operation", "listcore", "plain C",
                 "GSList", "forward_list", "ratio", "target");
    // --only walks|duplicates|growth: one part alone.
    const char *only = option_value(argc, argv, "--only");
    auto part = [&](const char *name) { return only == nullptr || std::strcmp(only, name) == 0; };
    if (part("walks"))
        walks(report);
    if (part("duplicates"))
        duplicates(report);
    if (part("growth"))
        growth(report, option_value(argc, argv, "--plot"));
    if (report.missed() != 0) {
        std::fprintf(stderr, "%d target(s) missed\n", report.missed());
        if (bench::has_flag(argc, argv, "--check"))
            return 1;
    }
    return 0;
}
