// SPDX-License-Identifier: MIT
// A small benchmark driver: the project's code and a plain reference run in
// turns, in the same process, several times; medians and their ratio are
// printed next to a target. With --check a missed target makes the program
// exit non-zero.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace bench {

using Action = std::function<void()>;

inline double time_ms(const Action &setup, const Action &run) {
    setup();
    auto t0 = std::chrono::steady_clock::now();
    run();
    auto t1 = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(t1 - t0).count();
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

class Report {
  public:
    explicit Report(FILE *out) : out_(out) {
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
