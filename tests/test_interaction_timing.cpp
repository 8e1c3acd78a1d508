// The spans and action codes of SU55IF_INTTIM and SU55IF_IINTTIM: for one
// stage, how long ago its partner stage began.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

#include "harness/helpers.h"

namespace su55if::test {
namespace {

constexpr int kAllEntries = INT_MIN;
const double kJustAbove50 = std::nextafter(50.0, kInf);

void defineWithCount(const Library &library, const std::vector<double> &durations, int count) {
    ASSERT_EQ(defineSchedule(library, durations, 0.0, count).printed, "");
}

// The library states a row starts from. The stages of kWorked start at 0, 10,
// 30 and 40 within a cycle of 80.
enum class Setup {
    worked,
    noSchedule,
    staleSlots,         // slots 5 and 6 hold 5 and 7 from a longer schedule before
    changedWithoutSum,  // stage 2 changed to 30 by the stage change check, cycle still 80
    negativeCount,      // a count of -1 stored after kWorked
};

const std::vector<double> kWorked{10, 20, 10, 40};

void arrange(const Library &library, Setup setup) {
    switch (setup) {
    case Setup::noSchedule:
        return;
    case Setup::staleSlots:
        defineWithCount(library, {10, 20, 10, 40, 5, 7}, 6);
        break;
    case Setup::worked:
    case Setup::changedWithoutSum:
    case Setup::negativeCount:
        break;
    }
    defineWithCount(library, kWorked, 4);
    if (setup == Setup::changedWithoutSum) {
        Call call(library);
        ASSERT_EQ(call.input({10, 30, 10, 40}).input(1).output().run("SU55IF_CHKST").out(1), 1.0);
    } else if (setup == Setup::negativeCount) {
        defineWithCount(library, {}, -1);
    }
}

struct Outputs {
    double delayForCode2;
    double delayForCode1;
    double actionCode;
};

// Exact reals: +0.0 is not -0.0.
testing::AssertionResult sameOutputs(const Result &r, const Outputs &e) {
    const double actual[] = {r.out(1), r.out(2), r.out(3)};
    const double expected[] = {e.delayForCode2, e.delayForCode1, e.actionCode};
    for (int k = 0; k < 3; ++k) {
        if (!sameBits(actual[k], expected[k])) {
            return testing::AssertionFailure() << "got (" << actual[0] << ", " << actual[1] << ", " << actual[2]
                                               << "), want (" << expected[0] << ", " << expected[1] << ", "
                                               << expected[2] << ")";
        }
    }
    return testing::AssertionSuccess();
}

constexpr Outputs kZ{0.0, 0.0, 0.0};

struct TimingCase {
    const char *what;
    std::vector<double> table;
    double stage;
    double time;
    Outputs standard;  // SU55IF_INTTIM
    Outputs twin;      // SU55IF_IINTTIM
    Setup setup = Setup::worked;
    int size = kAllEntries;
};

const std::vector<double> kPos{3, 0, 1, 0};
const std::vector<double> kNeg{-3, 0, -1, 0};

const TimingCase kCases[] = {
    {"P2 later partner, time past w", kPos, 1, 60, {0, 50, 1}, {0, 0, 1}},
    {"P2 time just past w", kPos, 1, kJustAbove50, {0, 50, 1}, {0, 0, 1}},
    {"P3 time equal to w", kPos, 1, 50, {0, 0, -1}, {0, 0, 1}},
    {"P3 NaN time", kPos, 1, kNaN, {0, 0, -1}, {0, 0, 1}},
    {"P3 initial point", kPos, 1, 0, {0, 0, -1}, {0, 0, 1}},
    {"P2 next stage", {2, 0, 0, 0}, 1, 71, {0, 70, 1}, {0, 0, 1}},
    {"P1 earlier partner", kPos, 3, 5, {30, 0, 2}, {30, 0, 2}},
    {"P1 ignores a NaN time", kPos, 3, kNaN, {30, 0, 2}, {30, 0, 2}},
    {"P1 previous stage", {0, 1, 0, 0}, 2, 5, {10, 0, 2}, {10, 0, 2}},
    {"P1 first stage from the last", {0, 0, 0, 1}, 4, 5, {40, 0, 2}, {40, 0, 2}},
    {"N1 later partner, time past w", kNeg, 1, 60, {50, 0, 2}, {50, 0, 2}},
    {"N1 time just past w", kNeg, 1, kJustAbove50, {50, 0, 2}, {50, 0, 2}},
    {"N2 time equal to w", kNeg, 1, 50, {0, 0, -2}, {0, 0, -2}},
    {"N2 NaN time", kNeg, 1, kNaN, {0, 0, -2}, {0, 0, -2}},
    {"N2 initial point", kNeg, 1, 0, {0, 0, -2}, {0, 0, -2}},
    {"N3 earlier partner", kNeg, 3, 5, {0, 30, 1}, {0, 30, 1}},
    {"N3 ignores a NaN time", kNeg, 3, kNaN, {0, 30, 1}, {0, 30, 1}},
    {"N3 previous stage", {0, 0, 0, -3}, 4, 5, {0, 10, 1}, {0, 10, 1}},
    {"Z stage without a link", kPos, 2, 60, kZ, kZ},
    {"Z entry 0.3", {0, 0.3, 0, 0}, 2, 60, kZ, kZ},
    {"Z entry -0.49", {0, -0.49, 0, 0}, 2, 60, kZ, kZ},
    {"Z entry -0.0", {0, -0.0, 0, 0}, 2, 60, kZ, kZ},
    {"Z no schedule", kPos, 1, 60, kZ, kZ, Setup::noSchedule},
    {"Z no schedule, faulty table", {1, 9, 1e10, kNaN}, 1, 0, kZ, kZ, Setup::noSchedule},
    // A link that the table check would refuse, at a later time.
    {"positive self link, time past the cycle", {0, 2, 0, 0}, 2, 81, {0, 80, 1}, {0, 0, 1}},
    {"positive self link, time equal to the cycle", {0, 2, 0, 0}, 2, 80, {0, 0, -1}, {0, 0, 1}},
    {"negative self link", {0, -2, 0, 0}, 2, 81, {0, 0, 1}, {0, 0, 1}},
    {"partner above the count uses its slots", {0, -6, 0, 0}, 2, 6, {5, 0, 2}, {5, 0, 2}, Setup::staleSlots},
    {"l from changed durations, w from the old sum", kNeg, 1, 45, {40, 0, 2}, {40, 0, 2}, Setup::changedWithoutSum},
    // Rounding of entries and stage numbers.
    {"entry 0.5 names stage 1", {0, 0.5, 0, 0}, 2, 5, {10, 0, 2}, {10, 0, 2}},
    {"entry -2.5 names stage 3", {-2.5, 0, 0, 0}, 1, 60, {50, 0, 2}, {50, 0, 2}},
    {"entry 2.49 names stage 2", {2.49, 0, 0, 0}, 1, 71, {0, 70, 1}, {0, 0, 1}},
    {"stage 2.5 is stage 3", kPos, 2.5, 5, {30, 0, 2}, {30, 0, 2}},
    {"stage 2.49 is stage 2", kPos, 2.49, 5, kZ, kZ},
    // Stages and partners without a table entry or a stage slot.
    {"stage 0", kPos, 0, 60, kZ, kZ},
    {"stage -3", kPos, -3, 60, kZ, kZ},
    {"NaN stage", kPos, kNaN, 60, kZ, kZ},
    {"stage past the table's end", kPos, 3, 5, kZ, kZ, Setup::worked, 2},
    {"stage above 100", {0, 0, 0, 1}, 101, 5, kZ, kZ, Setup::negativeCount, 101},
    // A negative count is a schedule without stages, whatever the slots hold.
    {"Z negative count", kNeg, 3, 60, kZ, kZ, Setup::negativeCount},
    {"Z negative count, positive link", kPos, 1, 60, kZ, kZ, Setup::negativeCount},
    {"partner above 100", {150, 0, 0, 0}, 1, 60, kZ, kZ},
    {"NaN partner", {kNaN, 0, 0, 0}, 1, 60, kZ, kZ},
    {"partner beyond 32 bits", {3e9, 0, 0, 0}, 1, 60, kZ, kZ},
};

Result callTiming(const Library &library, const char *name, const TimingCase &c, double mode) {
    std::vector<double> table = c.table;
    if (c.size > static_cast<int>(table.size())) {
        table.resize(static_cast<std::size_t>(c.size), 0.0);
        table.back() = c.table.back();  // the last given entry moves to the end
    }
    Call call(library);
    call.input(table).input(c.stage).input(c.time).outputs(3).derivatives(2, 3);
    if (c.size != kAllEntries) {
        call.inputSize(1, c.size);
    }
    return call.run(name, mode);
}

TEST(InteractionTiming, ResultsOfBothTwins) {
    for (const TimingCase &c : kCases) {
        SCOPED_TRACE(c.what);
        Library library;
        arrange(library, c.setup);
        for (double mode : {0.0, 4.0}) {
            const Result standard = callTiming(library, "SU55IF_INTTIM", c, mode);
            const Result twin = callTiming(library, "SU55IF_IINTTIM", c, mode);
            EXPECT_TRUE(sameOutputs(standard, c.standard)) << "SU55IF_INTTIM mode " << mode;
            EXPECT_TRUE(sameOutputs(twin, c.twin)) << "SU55IF_IINTTIM mode " << mode;
            for (const Result *r : {&standard, &twin}) {
                EXPECT_EQ(r->printed, "");
                EXPECT_EQ(r->status, kStatusBefore);
                // Zeroed after every result, Z included.
                EXPECT_EQ(r->derivativesZeroed(), mode == SU55IF_MODE_BOTH);
                EXPECT_EQ(r->derivativesUntouched(), mode == SU55IF_MODE_OUTPUTS);
            }
        }
    }
}

TEST(InteractionTiming, OutputsOnlyInCallModesThatAskForThem) {
    Library library;
    arrange(library, Setup::worked);
    for (const char *name : {"SU55IF_INTTIM", "SU55IF_IINTTIM"}) {
        for (double stage : {1.0, 2.0}) {  // a span, and result Z
            for (double mode : {1.0, 2.0, 3.0, 3.999, 5.0, -1.0, kNaN}) {
                SCOPED_TRACE(testing::Message() << name << " stage " << stage << " mode " << mode);
                Call call(library);
                const Result r = call.input(kPos).input(stage).input(60).outputs(3).derivatives(2, 3).run(name, mode);
                EXPECT_TRUE(r.outputsUntouched());
                EXPECT_EQ(r.derivativesZeroed(), mode == 3.0 || mode == 3.999);
                EXPECT_EQ(r.printed, "");
            }
        }
    }
}

}  // namespace
}  // namespace su55if::test
