// SPDX-License-Identifier: MIT
// A small benchmark driver: the project's code and plain references or peers
// run in turns, in the same process, several times, each run starting with
// cold caches; medians and their ratio are printed next to a target. With
// --check a missed target makes the program exit non-zero.
#pragma once

#include <algorithm>
#if defined(__i386__)
#include <cpuid.h>
#endif
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace bench {

using Action = std::function<void()>;

// How a run's caches are emptied before it. Where user space has an
// instruction that writes a line back and drops it from every level (x86's
// clflush, arm64's dc civac, powerpc's dcbf), the process's own lines are
// flushed; elsewhere (32-bit Arm, riscv64, s390x, and an i386 processor
// without clflush or SSE2's mfence) a buffer larger than the caches is swept
// through them.
#if defined(__x86_64__) || defined(__i386__)
#define BENCH_FLUSH "clflush"
#elif defined(__aarch64__)
#define BENCH_FLUSH "dc civac"
#elif defined(__powerpc64__)
#define BENCH_FLUSH "dcbf"
#endif

// Whether this processor has the flush. Debian's i386 baseline (i686) need
// have neither clflush nor mfence: CPUID says (leaf 1, EDX's CLFSH and SSE2).
inline bool can_flush() {
#if defined(__i386__)
    constexpr unsigned clfsh = 1u << 19; // which <cpuid.h> does not name
    unsigned eax, ebx, ecx, edx;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (edx & clfsh) != 0 &&
           (edx & bit_SSE2) != 0;
#elif defined(BENCH_FLUSH)
    return true;
#else
    return false;
#endif
}

inline const char *eviction() {
#if defined(BENCH_FLUSH)
    if (can_flush())
        return BENCH_FLUSH " of the process's lines";
#endif
    return "a sweep of a buffer twice the largest cache";
}

#if defined(BENCH_FLUSH)
// The smallest data cache line, which a flush steps by: x86's is 64 bytes;
// arm64's is in CTR_EL0 (DminLine, log2 of its words), which Linux lets user
// space read; POWER's is 128 bytes.
inline unsigned long cache_line() {
#if defined(__aarch64__)
    unsigned long ctr;
    asm volatile("mrs %0, ctr_el0" : "=r"(ctr));
    return 4ul << ((ctr >> 16) & 0xf);
#elif defined(__powerpc64__)
    return 128;
#else
    return 64;
#endif
}

// Writes the line holding `at` back and drops it from every cache level.
inline void flush_line(unsigned long at) {
#if defined(__x86_64__) || defined(__i386__)
    // By hand: on i386, SSE2's header, which has it, would need -msse2.
    asm volatile("clflush %0" : : "m"(*reinterpret_cast<const char *>(at)) : "memory");
#elif defined(__aarch64__)
    // Clean and invalidate by address to the point of coherency; Linux allows
    // it from user space (SCTLR_EL1.UCI).
    asm volatile("dc civac, %0" : : "r"(at) : "memory");
#elif defined(__powerpc64__)
    asm volatile("dcbf 0, %0" : : "r"(at) : "memory");
#endif
}

// Waits until every flush issued has completed.
inline void flushes_done() {
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("mfence" : : : "memory");
#elif defined(__aarch64__)
    asm volatile("dsb sy" : : : "memory");
#elif defined(__powerpc64__)
    asm volatile("sync" : : : "memory");
#endif
}

// Flushes the process's data from every cache level: each line of its heap
// and of its anonymous writable mappings (where large blocks live). The
// caches are far larger than what a timed part touches on some machines, so
// sweeping a buffer through them would take longer than the runs.
inline void flush_caches() {
    FILE *maps = std::fopen("/proc/self/maps", "r");
    if (maps == nullptr)
        return;
    char line[512];
    while (std::fgets(line, sizeof line, maps) != nullptr) {
        unsigned long from = 0, to = 0;
        char perms[8] = "", path[256] = "";
        if (std::sscanf(line, "%lx-%lx %7s %*s %*s %*s %255s", &from, &to, perms, path) < 3)
            continue;
        bool anonymous = path[0] == '\0' || std::strcmp(path, "[heap]") == 0;
        if (std::strcmp(perms, "rw-p") != 0 || !anonymous)
            continue;
        for (unsigned long at = from, line = cache_line(); at < to; at += line)
            flush_line(at);
    }
    std::fclose(maps);
    flushes_done();
}
#endif

// The largest cache of processor 0 as Linux describes it, in bytes (32 MiB
// when it says nothing).
inline size_t largest_cache() {
    size_t largest = 0;
    for (int index = 0; index < 8; ++index) {
        char path[64];
        std::snprintf(path, sizeof path, "/sys/devices/system/cpu/cpu0/cache/index%d/size", index);
        FILE *f = std::fopen(path, "r");
        if (f == nullptr)
            break;
        size_t size = 0;
        char unit = 'K';
        if (std::fscanf(f, "%zu%c", &size, &unit) >= 1)
            largest = std::max(largest, size << (unit == 'M' ? 20 : unit == 'K' ? 10 : 0));
        std::fclose(f);
    }
    return largest != 0 ? largest : size_t{32} << 20;
}

// Reads and writes every 32nd byte of a buffer twice the largest cache, its
// pages made real once (untouched, they would all be the one zero page):
// whatever a run left in the caches is pushed out by it.
inline void sweep_caches() {
    static std::vector<unsigned char> sweep(2 * largest_cache(), 1);
    volatile unsigned char *p = sweep.data();
    for (size_t at = 0; at < sweep.size(); at += 32)
        p[at] = static_cast<unsigned char>(p[at] + 1);
}

inline void evict_caches() {
#if defined(BENCH_FLUSH)
    static const bool flushes = can_flush();
    if (flushes)
        return flush_caches();
#endif
    sweep_caches();
}

// The thread's own processor time (user and system), in milliseconds: on a
// machine shared with other work, time spent waiting for a processor would
// otherwise count against whichever side was running.
inline double thread_ms() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
}

inline double time_ms(const Action &setup, const Action &run) {
    setup();
    evict_caches();
    double t0 = thread_ms();
    run();
    return thread_ms() - t0;
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Side {
    Action setup; // not timed
    Action run;
};

struct Times {
    double project;
    double reference;
};

// Runs both sides `runs` times, alternating which goes first.
inline Times race(int runs, const Side &project, const Side &reference) {
    std::vector<double> p, r;
    for (int i = 0; i < runs; ++i) {
        if (i % 2 == 0) {
            p.push_back(time_ms(project.setup, project.run));
            r.push_back(time_ms(reference.setup, reference.run));
        } else {
            r.push_back(time_ms(reference.setup, reference.run));
            p.push_back(time_ms(project.setup, project.run));
        }
    }
    return {median(p), median(r)};
}

// Runs every side `runs` times, each round starting with another side. A
// side without a run is not run: its median is -1.
inline std::vector<double> race_all(int runs, const std::vector<Side> &sides) {
    std::vector<std::vector<double>> t(sides.size());
    for (int i = 0; i < runs; ++i) {
        for (size_t k = 0; k < sides.size(); ++k) {
            size_t s = (k + static_cast<size_t>(i)) % sides.size();
            if (sides[s].run)
                t[s].push_back(time_ms(sides[s].setup, sides[s].run));
        }
    }
    std::vector<double> medians;
    for (const auto &v : t)
        medians.push_back(v.empty() ? -1 : median(v));
    return medians;
}

class Report {
  public:
    explicit Report(FILE *out, bool header = true) : out_(out) {
        std::fprintf(out_, "caches emptied before each run by %s\n", eviction());
        if (header)
            std::fprintf(out_, "%-52s %12s %12s %8s %9s\n", "operation", "project", "reference",
                         "ratio", "target");
    }

    // A row whose ratio must stay at or below `target` (0: figure only).
    void row(const std::string &what, Times t, double target) {
        double ratio = t.project / t.reference;
        bool ok = target == 0 || ratio <= target;
        char goal[16] = "record";
        if (target != 0)
            std::snprintf(goal, sizeof goal, "<= %.3g", target);
        std::fprintf(out_, "%-52s %9.2f ms %9.2f ms %8.4f %9s  %s\n", what.c_str(), t.project,
                     t.reference, ratio, goal, ok ? "" : "MISSED");
        missed_ += !ok;
    }

    // A row of several sides (a negative time: not run), the first being the
    // project's, whose ratio to the fastest of the sides in `against` must
    // stay at or below `target` (0: figure only).
    void sides_row(const std::string &what, const std::vector<double> &ms,
                   const std::vector<size_t> &against, double target) {
        double best = 0; // the fastest of those that ran
        for (size_t k : against)
            best = ms[k] >= 0 && (best == 0 || ms[k] < best) ? ms[k] : best;
        double ratio = ms[0] / best;
        bool ok = target == 0 || ratio <= target;
        std::fprintf(out_, "%-52s", what.c_str());
        for (double t : ms) {
            if (t < 0)
                std::fprintf(out_, " %12s", "-");
            else
                std::fprintf(out_, " %9.2f ms", t);
        }
        if (target == 0)
            std::fprintf(out_, " %8.4f %-8s\n", ratio, "record");
        else
            std::fprintf(out_, " %8.4f <= %-5.3g %s\n", ratio, target, ok ? "" : "MISSED");
        missed_ += !ok;
    }

    // A figure checked against a limit, in its own unit.
    void limit_row(const std::string &what, double value, const char *unit, double limit) {
        bool ok = value <= limit;
        std::fprintf(out_, "%-52s %9.1f %s (at most %.0f %s)  %s\n", what.c_str(), value, unit,
                     limit, unit, ok ? "" : "MISSED");
        missed_ += !ok;
    }

    void note(const std::string &text) { std::fprintf(out_, "%s\n", text.c_str()); }
    FILE *out() const { return out_; }
    int missed() const { return missed_; }

  private:
    FILE *out_;
    int missed_ = 0;
};

inline bool has_flag(int argc, char **argv, const char *flag) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], flag) == 0)
            return true;
    return false;
}

} // namespace bench
