// The integer reading of reals, checked directly on the helpers.
#include <gtest/gtest.h>

#include <limits>

#include "frame/frame.h"
#include "harness/helpers.h"

namespace su55if::test {
namespace {

using su55if::kInvalidInteger;

struct Case {
    double x;
    std::int32_t expected;
};

TEST(RoundToInt, HalvesAwayFromZeroAndInvalidForUnrepresentable) {
    const Case cases[] = {
        {2.5, 3},
        {-2.5, -3},
        {2.4999, 2},
        {-0.0, 0},
        {0.0, 0},
        {0.49999999999999994, 1},  // the addition rounds up to 1.0
        {-0.49999999999999994, -1},
        {0.49, 0},
        {-0.49, 0},
        {kNaN, kInvalidInteger},
        {-kNaN, kInvalidInteger},
        {kInf, kInvalidInteger},
        {-kInf, kInvalidInteger},
        {3.0e9, kInvalidInteger},
        {2147483646.5, 2147483647},
        {2147483647.0, 2147483647},
        {2147483647.4, 2147483647},
        {2147483647.5, kInvalidInteger},
        {-2147483646.5, -2147483647},
        {-2147483647.5, INT32_MIN},  // the sum -2147483648.0 fits
        {-2147483648.0, INT32_MIN},  // the sum -2147483648.5 truncates to INT32_MIN
        {-2147483648.6, kInvalidInteger},
        {std::numeric_limits<double>::denorm_min(), 0},
        {-std::numeric_limits<double>::denorm_min(), -0},
        {1.0e308, kInvalidInteger},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(su55if::roundToInt(c.x), c.expected) << "x = " << c.x;
    }
}

TEST(TruncateToInt, TowardZeroWithinRange) {
    const Case cases[] = {
        {4.9, 4},           {3.999, 3},           {-0.7, 0},           {-1.0, -1},
        {kNaN, kInvalidInteger}, {2147483647.9, 2147483647}, {2147483648.0, kInvalidInteger},
        {-2147483648.9, -2147483648}, {-2147483649.0, kInvalidInteger}, {-kInf, kInvalidInteger},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(su55if::truncateToInt(c.x), c.expected) << "x = " << c.x;
    }
}

TEST(RoundMagnitudeToInt, IgnoresSign) {
    EXPECT_EQ(su55if::roundMagnitudeToInt(-2.6), 3);
    EXPECT_EQ(su55if::roundMagnitudeToInt(-0.4), 0);
    EXPECT_EQ(su55if::roundMagnitudeToInt(-kNaN), kInvalidInteger);
}

}  // namespace
}  // namespace su55if::test
