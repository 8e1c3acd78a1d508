// The switch signal through its export: strict, ordered comparisons.
#include <gtest/gtest.h>


#include "harness/helpers.h"

namespace su55if::test {
namespace {


struct SwitchCase {
    double limit, value, enable, expected;
};

TEST(SwitchSignal, TruthTable) {
    const SwitchCase cases[] = {
        {5.0, 4.0, 1.0, 1.0},      {5.0, 5.0, 0.0, 1.0},      {5.0, 5.000001, 1.0, 0.0},
        {5.0, 4.0, -1.0e-12, 0.0}, {5.0, 4.0, -0.0, 1.0},     {5.0, 6.0, -1.0, 0.0},
        {0.0, -0.0, 1.0, 1.0},     {-0.0, 0.0, 1.0, 1.0},     {-0.0, 0.0, -0.0, 1.0},
        {5.0, kInf, 1.0, 0.0},     {kInf, 1.0e308, 1.0, 1.0}, {5.0, -kInf, -kInf, 0.0},
        {kNaN, 4.0, 1.0, 1.0},     {5.0, kNaN, -1.0, 0.0},    {5.0, 6.0, kNaN, 0.0},
        {5.0, 4.0, kNaN, 1.0},     {kNaN, kNaN, kNaN, 1.0},   {kNaN, 6.0, -1.0, 0.0},
    };
    Library library;
    for (const SwitchCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.limit << " " << c.value << " " << c.enable);
        for (double mode : {0.0, 4.0}) {
            Call call(library);
            const Result r = call.input(c.limit).input(c.value).input(c.enable).output().run("SU55IF_PFNRSWTCH", mode);
            const double out = r.out(1);
            // Exactly +0.0 or 1.0.
            EXPECT_TRUE(sameBits(out, c.expected)) << out;
            EXPECT_EQ(r.status, kStatusBefore);
        }
        Call call(library);
        EXPECT_TRUE(call.input(c.limit).input(c.value).input(c.enable).output().run("SU55IF_PFNRSWTCH", SU55IF_MODE_DERIVATIVES)
                        .outputsUntouched());
    }
}

}  // namespace
}  // namespace su55if::test
