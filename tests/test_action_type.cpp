// Decoding of an action code into indicator outputs by SU55IF_ACTYP (codes 1,
// 2, -2, -1) and SU55IF_IACTYP (codes 1, 2, -2).
#include <gtest/gtest.h>

#include <array>

#include "harness/helpers.h"

namespace su55if::test {
namespace {


struct DecodeCase {
    double code;
    std::array<double, 4> flags;  // SU55IF_ACTYP; SU55IF_IACTYP has the first three
};

constexpr std::array<double, 4> kNone{0, 0, 0, 0};
constexpr std::array<double, 4> kCode1{1, 0, 0, 0};
constexpr std::array<double, 4> kCode2{0, 1, 0, 0};
constexpr std::array<double, 4> kCodeMinus2{0, 0, 1, 0};
constexpr std::array<double, 4> kCodeMinus1{0, 0, 0, 1};

const DecodeCase kCases[] = {
    {1.0, kCode1}, {2.0, kCode2}, {-2.0, kCodeMinus2}, {-1.0, kCodeMinus1}, {0.0, kNone}, {-0.0, kNone},
    // Halves round away from zero.
    {0.5, kCode1}, {0.49, kNone}, {0.49999999999999994, kCode1}, {1.4999, kCode1}, {1.5, kCode2},
    {2.4999, kCode2}, {2.5, kNone}, {-0.49, kNone}, {-0.5, kCodeMinus1}, {-1.4999, kCodeMinus1},
    {-1.5, kCodeMinus2}, {-2.4999, kCodeMinus2}, {-2.5, kNone}, {3.0, kNone}, {-3.0, kNone},
    // Nothing that is no code wraps round to one.
    {kNaN, kNone}, {kInf, kNone}, {-kInf, kNone}, {1e10, kNone}, {-1e10, kNone},
    {4294967297.0, kNone}, {4294967298.0, kNone}, {-4294967298.0, kNone}, {-4294967297.0, kNone},
    // The largest codes, whose code + 2 leaves the 32-bit range.
    {2147483646.0, kNone}, {2147483647.0, kNone}, {-2147483647.0, kNone}, {-2147483648.0, kNone},
};

struct Decoder {
    const char *name;
    std::size_t outputs;
};
const Decoder kDecoders[] = {{"SU55IF_ACTYP", 4}, {"SU55IF_IACTYP", 3}};

TEST(ActionType, EveryOutputIsWrittenFromTheRoundedCode) {
    Library library;
    for (const DecodeCase &c : kCases) {
        for (double mode : {double{SU55IF_MODE_OUTPUTS}, double{SU55IF_MODE_BOTH}}) {
            for (const Decoder &d : kDecoders) {
                SCOPED_TRACE(testing::Message() << d.name << " code " << c.code << " mode " << mode);
                Call call(library);
                const Result r = call.input(c.code).outputs(d.outputs).derivatives(2, 2).run(d.name, mode);
                for (std::size_t k = 1; k <= d.outputs; ++k) {
                    EXPECT_TRUE(sameBits(r.out(k), c.flags[k - 1])) << "output " << k << " is " << r.out(k);
                }
                EXPECT_EQ(r.derivativesZeroed(), mode == SU55IF_MODE_BOTH);
                EXPECT_EQ(r.status, kStatusBefore);
                EXPECT_EQ(r.printed, "");
            }
        }
    }
}

TEST(ActionType, NoOutputsInCallModesThatDoNotAskForThem) {
    Library library;
    for (const Decoder &d : kDecoders) {
        for (double mode : {1.0, 2.0, 3.0, 5.0, kNaN}) {
            SCOPED_TRACE(testing::Message() << d.name << " mode " << mode);
            Call call(library);
            const Result r = call.input(1.0).outputs(d.outputs).derivatives(2, 2).run(d.name, mode);
            EXPECT_TRUE(r.outputsUntouched());
            EXPECT_EQ(r.derivativesZeroed(), mode == SU55IF_MODE_DERIVATIVES);
        }
    }
}

}  // namespace
}  // namespace su55if::test
