// SPDX-License-Identifier: MIT
// cyclar on a million values by 1,000,000,007 places, against one
// std::rotate of the same array and against the one-place rotation repeated.
// Usage: cyclar_bench [--check]
#include "cyclar.h"
#include "race.h"

#include <numeric>

namespace {

// The plain reference: move everything one place to the front, `rounds`
// times.
void rotate_once_repeated(int32_t *values, int32_t rounds, int32_t length) {
    for (int32_t r = 0; r < rounds; ++r) {
        int32_t first = values[0];
        for (int32_t j = 0; j + 1 < length; ++j)
            values[j] = values[j + 1];
        values[length - 1] = first;
    }
}

} // namespace

int main(int argc, char **argv) {
    constexpr int32_t length = 1'000'000;
    constexpr int32_t rounds = 1'000'000'007;
    std::vector<int32_t> values(length), expected(length);
    std::iota(values.begin(), values.end(), 0);
    std::iota(expected.begin(), expected.end(), 0);
    std::rotate(expected.begin(), expected.begin() + rounds % length, expected.end());

    bench::Report report(stderr);
    auto reset = [&] { std::iota(values.begin(), values.end(), 0); };
    report.row("cyclar, 1,000,000 values by 1,000,000,007 places",
               bench::race(21, {reset, [&] { cyclar(values.data(), rounds, length); }},
                           {reset,
                            [&] {
                                std::rotate(values.data(), values.data() + rounds % length,
                                            values.data() + length);
                            }}),
               2.0);
    reset();
    cyclar(values.data(), rounds, length);
    if (values != expected)
        report.row("cyclar gives a wrong result", {1, 0}, 1);

    // The one-place rotation repeated: timed for 200 rounds, scaled up.
    constexpr int32_t sample = 200;
    bench::Times slow =
        bench::race(3, {reset, [&] { cyclar(values.data(), sample, length); }},
                    {reset, [&] { rotate_once_repeated(values.data(), sample, length); }});
    double scale = static_cast<double>(rounds) / sample;
    std::fprintf(stderr,
                 "one-place rotation repeated 1,000,000,007 times: about %.1f hours "
                 "(%.2f ms per 200 rounds, scaled)\n",
                 slow.reference * scale / 3.6e6, slow.reference);

    if (report.missed() != 0 && bench::has_flag(argc, argv, "--check"))
        return 1;
    return 0;
}
