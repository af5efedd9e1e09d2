// SPDX-License-Identifier: MIT
// display()'s decimal conversion against printf's "%d  ": the first and last
// value of every digit count, both signs and both extremes, alone and two at
// a time, each written into a buffer no larger than the conversion may use.
#include "digits.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<int32_t> boundaries() {
    std::vector<int32_t> v{0, INT32_MIN, INT32_MIN + 1, INT32_MAX};
    for (int64_t p = 10; p <= 1'000'000'000; p *= 10)
        for (int64_t x : {p - 1, p})
            v.insert(v.end(), {static_cast<int32_t>(x), static_cast<int32_t>(-x)});
    return v;
}

std::string printf_of(int32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%d  ", v);
    return text;
}

TEST(Digits, OneValueAsPrintf) {
    for (int32_t v : boundaries()) {
        char buf[kMaxValueBytes];
        EXPECT_EQ(std::string(buf, put_value(buf, v)), printf_of(v));
    }
}

TEST(Digits, TwoValuesAtOnceAsPrintf) {
    for (int32_t a : boundaries())
        for (int32_t b : boundaries()) {
            if (magnitude(a) >= 100000000 || magnitude(b) >= 100000000)
                continue;
            uint64_t da, db;
            eight_digits_twice(magnitude(a), magnitude(b), da, db);
            char buf[2 * kMaxValueBytes];
            char *end = put_digits(put_sign(buf, a), da);
            end = put_digits(put_sign(end, b), db);
            EXPECT_EQ(std::string(buf, end), printf_of(a) + printf_of(b));
        }
}

} // namespace
