// SPDX-License-Identifier: MIT
// cyclar against the rotation it stands for, one place at a time, on every
// small shape, with guard cells on both sides to catch stray writes; and one
// case far too large for the one-place way.
#include "cyclar.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <numeric>
#include <vector>

namespace {

using Values = std::vector<int32_t>;

// The definition: rounds times, every element one place towards the front
// and the front one to the back.
Values one_place_rotations(Values v, int32_t rounds) {
    for (int32_t r = 0; r < rounds && !v.empty(); ++r) {
        int32_t front = v.front();
        for (size_t j = 0; j + 1 < v.size(); ++j)
            v[j] = v[j + 1];
        v.back() = front;
    }
    return v;
}

constexpr size_t guards = 3;
constexpr int32_t guard = -777;

// The values between guard cells.
Values framed(const Values &values) {
    Values row(guards, guard);
    row.insert(row.end(), values.begin(), values.end());
    row.insert(row.end(), guards, guard);
    return row;
}

// Runs cyclar on values[0..length) inside guard cells; returns the whole row.
Values guarded(const Values &values, int32_t rounds, int32_t length) {
    Values row = framed(values);
    cyclar(row.data() + guards, rounds, length);
    return row;
}

TEST(Cyclar, EverySmallShapeEqualsOnePlaceRotations) {
    for (int32_t length = 0; length <= 9; ++length) {
        Values values(static_cast<size_t>(length));
        std::iota(values.begin(), values.end(), 10);
        for (int32_t rounds = -3; rounds <= 25; ++rounds) {
            SCOPED_TRACE(testing::Message() << "length " << length << ", rounds " << rounds);
            Values rotated = one_place_rotations(values, rounds);
            EXPECT_EQ(guarded(values, rounds, length), framed(rotated));

            // On an array of exactly that size too: under AddressSanitizer
            // any read past either end stops the test.
            Values exact = values;
            cyclar(exact.data(), rounds, length);
            EXPECT_EQ(exact, rotated);
        }
    }
}

TEST(Cyclar, NoElementsMeansNothingTouched) {
    const int32_t lengths[] = {0, -1, -5, INT32_MIN};
    const int32_t rounds[] = {1, 4, INT32_MAX};
    for (int32_t length : lengths)
        for (int32_t r : rounds) {
            SCOPED_TRACE(testing::Message() << "length " << length << ", rounds " << r);
            EXPECT_EQ(guarded({}, r, length), framed({}));
            cyclar(nullptr, r, length);
        }
}

TEST(Cyclar, ExtremeRoundsOnSmallArrays) {
    // INT32_MAX = 7 * 306783378 + 1 and = 5 * 429496729 + 2.
    EXPECT_EQ(guarded({1, 2, 3, 4, 5, 6, 7}, INT32_MAX, 7), framed({2, 3, 4, 5, 6, 7, 1}));
    Values five{1, 2, 3, 4, 5};
    cyclar(five.data(), INT32_MAX, 5);
    EXPECT_EQ(five, (Values{3, 4, 5, 1, 2}));
}

TEST(Cyclar, BillionPlacesOnAMillionValues) {
    // One-place rotations would take about 10^15 element moves here.
    const int32_t length = 1'000'003;
    const int32_t rounds = 1'000'000'007;
    Values values(static_cast<size_t>(length));
    std::iota(values.begin(), values.end(), 0);
    cyclar(values.data(), rounds, length);
    // After r single-place left rotations the element at i is the one that
    // started at (i + r) mod length.
    Values want(values.size());
    for (size_t i = 0; i < want.size(); ++i)
        want[i] = static_cast<int32_t>((i + rounds) % length);
    auto [got, wanted] = std::mismatch(values.begin(), values.end(), want.begin());
    EXPECT_TRUE(got == values.end())
        << "at " << got - values.begin() << ": " << *got << ", want " << *wanted;
}

} // namespace
