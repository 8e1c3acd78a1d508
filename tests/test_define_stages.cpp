// Stage definition: acceptance of a passed schedule into the shared table and
// the report of the table.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "harness/helpers.h"

namespace su55if::test {
namespace {


struct Define {
    std::vector<double> requested;
    std::vector<double> inForce;  // empty: same as requested
    double hold = 0.0;
    double time = 0.0;
    double stage = 1.0;
    double reference = 0.0;
    int reported = 3;  // outputSizes(1)
};

Result defineStages(const Library &library, const Define &d, double callMode = 0.0, int count1 = 0,
                    int count2 = 0) {
    Call call(library);
    call.input(d.requested)
        .input(d.inForce.empty() ? d.requested : d.inForce)
        .input(d.hold)
        .input(d.time)
        .input(d.stage)
        .input(d.reference)
        .output(static_cast<std::size_t>(d.reported < 0 ? 0 : d.reported))
        .outputSize(1, d.reported)
        .outputs(4)
        .derivatives(count1, count2);
    return call.run("SU55IF_DEFST", callMode);
}

// What the table holds now, read by a call whose NaN time never accepts.
struct Table {
    std::vector<double> durations;
    double cycle;
};

Table readTable(const Library &library, int slots = 3) {
    const Result r = reportSchedule(library, 1.0, static_cast<std::size_t>(slots));
    return {r.outputs[0], r.out(5)};
}

// The acceptance rule, row by row, from the schedule 10, 20, 30 defined at
// the initial point. Output 5 is written by an acceptance in every call mode,
// so call mode 3 shows whether one happened.
TEST(DefineStages, AcceptanceRule) {
    struct Row {
        const char *name;
        Define call;
        bool accepts;
        std::vector<double> durations;  // afterwards
        double cycle;
    };
    const Row rows[] = {
        {"initial, other count", {.requested = {1, 2}, .inForce = {9, 9}}, true, {1, 2, 30}, 3},
        {"initial, requested changed", {.requested = {10, 25, 30}, .inForce = {7, 7, 7}}, true, {10, 25, 30}, 65},
        {"initial, only durations in force changed", {.requested = {10, 20, 30}, .inForce = {1, 1, 1}}, false, {10, 20, 30}, 60},
        {"negative time is initial", {.requested = {10, 25, 30}, .inForce = {7, 7, 7}, .time = -4}, true, {10, 25, 30}, 65},
        {"running, other count", {.requested = {5, 5}, .inForce = {6, 7}, .time = 1}, true, {6, 7, 30}, 13},
        {"running, requested changed", {.requested = {11, 20, 30}, .inForce = {1, 2, 3}, .time = 1}, true, {1, 2, 3}, 6},
        {"running, durations in force changed", {.requested = {10, 20, 30}, .inForce = {10, 21, 30}, .time = 1}, true, {10, 21, 30}, 61},
        {"running, nothing changed", {.requested = {10, 20, 30}, .time = 1}, false, {10, 20, 30}, 60},
        {"running, held", {.requested = {1, 2}, .inForce = {1, 2}, .hold = 1, .time = 1}, false, {10, 20, 30}, 60},
        {"hold 0.4 rounds to 0", {.requested = {1, 2}, .inForce = {3, 4}, .hold = 0.4, .time = 1}, true, {3, 4, 30}, 7},
        {"hold 0.5 holds", {.requested = {1, 2}, .hold = 0.5, .time = 1}, false, {10, 20, 30}, 60},
        {"hold -0.5 holds", {.requested = {1, 2}, .hold = -0.5, .time = 1}, false, {10, 20, 30}, 60},
        {"hold NaN holds", {.requested = {1, 2}, .hold = kNaN, .time = 1}, false, {10, 20, 30}, 60},
        {"NaN time", {.requested = {1, 2}, .time = kNaN}, false, {10, 20, 30}, 60},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Library library;
        defineStages(library, {.requested = {10, 20, 30}});
        const Result r = defineStages(library, row.call, SU55IF_MODE_DERIVATIVES);
        EXPECT_EQ(r.out(5) != kUnwritten, row.accepts);
        if (row.accepts) {
            EXPECT_EQ(r.out(5), row.cycle);
        }
        for (std::size_t k = 1; k <= 4; ++k) {
            EXPECT_EQ(r.out(k), kUnwritten) << "output " << k << " in call mode 3";
        }
        const Table table = readTable(library);
        EXPECT_EQ(table.durations, row.durations);
        EXPECT_EQ(table.cycle, row.cycle);
    }
}

TEST(DefineStages, FirstDefinitionReportsTheSchedule) {
    Library library;
    const Result r = defineStages(library, {.requested = {10, 20, 30}, .stage = 1});
    EXPECT_EQ(r.outputs[0], (std::vector<double>{10, 20, 30}));
    EXPECT_EQ(r.out(2), 10);
    EXPECT_EQ(r.out(3), 20);
    EXPECT_EQ(r.out(4), 0.0);
    EXPECT_EQ(r.out(5), 60);
    EXPECT_EQ(r.status, kStatusBefore);
    EXPECT_EQ(r.printed, "");
}

TEST(DefineStages, RequestedDurationsAreRememberedSeparately) {
    Library library;
    defineStages(library, {.requested = {10, 20, 30}});
    // Running acceptance: durations in force from input 2, requested from input 1.
    defineStages(library, {.requested = {10, 20, 30}, .inForce = {10, 21, 30}, .time = 1});
    // Back at the initial point the same request is no change...
    EXPECT_EQ(defineStages(library, {.requested = {10, 20, 30}}, 3.0).out(5), kUnwritten);
    EXPECT_EQ(readTable(library).durations, (std::vector<double>{10, 21, 30}));
    // ...and another request replaces both vectors.
    EXPECT_EQ(defineStages(library, {.requested = {10, 20, 31}}, 3.0).out(5), 61);
    EXPECT_EQ(readTable(library).durations, (std::vector<double>{10, 20, 31}));
}

TEST(DefineStages, ComparesAsRealNumbers) {
    Library library;
    defineStages(library, {.requested = {0.0, 10}});
    // -0.0 equals the stored +0.0: no change, and the stored zero keeps its sign.
    EXPECT_EQ(defineStages(library, {.requested = {-0.0, 10}}, 3.0).out(5), kUnwritten);
    EXPECT_FALSE(std::signbit(readTable(library, 1).durations[0]));

    // A NaN is a change on every call, and is stored as passed.
    const double payload = std::bit_cast<double>(0x7ff8000000000123ULL);
    EXPECT_EQ(defineStages(library, {.requested = {payload, 10}}, 3.0).out(5) != kUnwritten, true);
    EXPECT_TRUE(std::isnan(defineStages(library, {.requested = {payload, 10}}, 3.0).out(5)));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(readTable(library, 1).durations[0]), 0x7ff8000000000123ULL);
}

TEST(DefineStages, StageLimit) {
    Library library;
    defineStages(library, {.requested = {10, 20, 30}});

    const std::vector<double> hundred(SU55IF_MAX_STAGES, 2.0);
    const Result stored = defineStages(library, {.requested = hundred, .reported = SU55IF_MAX_STAGES});
    EXPECT_EQ(stored.outputs[0], hundred);
    EXPECT_EQ(stored.out(5), 200);

    const std::vector<double> tooMany(SU55IF_MAX_STAGES + 1, 1.0);
    const Result refused =
        defineStages(library, {.requested = tooMany, .reported = SU55IF_MAX_STAGES + 1}, SU55IF_MODE_BOTH, 2, 2);
    EXPECT_EQ(refused.printedLines(), (std::vector<std::string>{
                                          "Number of stages 101 is greater than maximum of 100 allowed.",
                                          "Simulation Terminated"}));
    EXPECT_EQ(refused.status, SU55IF_STATUS_FATAL);
    EXPECT_TRUE(refused.outputsUntouched());
    EXPECT_TRUE(refused.derivativesUntouched());
    EXPECT_EQ(readTable(library, SU55IF_MAX_STAGES).durations, hundred);
    EXPECT_EQ(readTable(library).cycle, 200);

    // Without an acceptance due, a large count is no error.
    const Result held = defineStages(library, {.requested = tooMany, .hold = 1, .time = 5, .reported = 3});
    EXPECT_EQ(held.printed, "");
    EXPECT_EQ(held.status, kStatusBefore);
    EXPECT_EQ(held.out(5), 200);
}

TEST(DefineStages, CountOfZeroOrLessKeepsTheSlots) {
    for (int count : {0, -5}) {
        Library library;
        defineStages(library, {.requested = {10, 20, 30}});
        Call call(library);
        call.input(std::vector<double>{}).input(std::vector<double>{}).input(0).input(0).input(1).input(0);
        call.inputSize(1, count).output(3).outputs(4);
        const Result r = call.run("SU55IF_DEFST");
        EXPECT_EQ(r.out(5), 0.0) << count;
        EXPECT_EQ(r.outputs[0], (std::vector<double>{10, 20, 30})) << count;
        EXPECT_EQ(r.out(3), 10) << "no stage comes after stage 1 of an empty schedule";
    }
}

TEST(DefineStages, DurationOfAStageAndOfTheNext) {
    struct Case {
        double stage;
        double duration;
        double next;
    };
    const Case cases[] = {
        {1, 10, 20},    {3, 30, 40},      {4, 40, 10},  // the last stage is followed by the first
        {2.5, 30, 40},  {2.49, 20, 30},   {0, 0.0, 10},  {-0.4, 0.0, 10},  // both read as 0
        {-0.5, 0.0, 0.0}, {-1, 0.0, 0.0}, {-3, 0.0, 0.0},  // -1 or less: no stage comes next
        {5, 0.0, 10},   {101, 0.0, 10},
        {kNaN, 0.0, 0.0}, {1.0e12, 0.0, 0.0},  // both read as -2147483648
    };
    Library library;
    defineStages(library, {.requested = {10, 20, 30, 40}});
    for (const Case &c : cases) {
        const Result r = defineStages(library, {.requested = {10, 20, 30, 40}, .stage = c.stage});
        EXPECT_EQ(r.out(2), c.duration) << "stage " << c.stage;
        EXPECT_EQ(r.out(3), c.next) << "stage " << c.stage;
    }
}

TEST(DefineStages, ElapsedTime) {
    struct Case {
        double time;
        double reference;
        double elapsed;
    };
    const Case cases[] = {{5, 2, 3}, {5, 5, 0.0}, {5, 6, 0.0}, {0, -3, 0.0}, {-1, -3, 0.0},
                          {kNaN, 1, 0.0}, {5, kNaN, 0.0}, {7.5, -2.5, 10}};
    Library library;
    for (const Case &c : cases) {
        const Result r = defineStages(library, {.requested = {}, .hold = 1, .time = c.time, .reference = c.reference});
        EXPECT_EQ(r.out(4), c.elapsed) << c.time << " - " << c.reference;
    }
}

TEST(DefineStages, ReportsZerosPastTheTable) {
    Library library;
    const std::vector<double> hundred(100, 3.0);
    defineStages(library, {.requested = hundred, .reported = 100});
    const Result r = defineStages(library, {.requested = hundred, .reported = 103});
    std::vector<double> expected = hundred;
    expected.insert(expected.end(), {0.0, 0.0, 0.0});
    EXPECT_EQ(r.outputs[0], expected);
}

TEST(DefineStages, AcceptsInEveryCallModeButReportsOnlyWhenAsked) {
    struct Case {
        double callMode;
        bool reports;
        bool zeroes;
    };
    for (const Case &c : {Case{3, false, true}, Case{1, false, false}, Case{2, false, false}, Case{4, true, true}}) {
        Library library;
        const Result r = defineStages(library, {.requested = {10, 20, 30}}, c.callMode, 2, 3);
        EXPECT_EQ(r.out(5), 60) << c.callMode;
        EXPECT_EQ(r.out(1) != kUnwritten, c.reports) << c.callMode;
        EXPECT_EQ(r.derivativesZeroed(), c.zeroes) << c.callMode;
        EXPECT_EQ(readTable(library).cycle, 60);
    }
}

}  // namespace
}  // namespace su55if::test
