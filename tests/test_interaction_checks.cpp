// The checks that open every call of SU55IF_INTTIM and SU55IF_IINTTIM: the
// stage number against the schedule on every call, and the interaction table
// at the initial point of a run.
#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "harness/helpers.h"

namespace su55if::test {
namespace {

constexpr int kAllEntries = INT_MIN;  // declare the table as long as its values
const char *const kTimingProcedures[] = {"SU55IF_INTTIM", "SU55IF_IINTTIM"};

// Every duration slot and the cycle duration, as bit patterns, read without
// changing the table.
std::vector<std::uint64_t> scheduleBits(const Library &library) {
    const Result r = reportSchedule(library);
    std::vector<std::uint64_t> bits;
    for (double v : r.outputs[0]) {
        bits.push_back(std::bit_cast<std::uint64_t>(v));
    }
    bits.push_back(std::bit_cast<std::uint64_t>(r.out(5)));
    return bits;
}

Result callTiming(const Library &library, const char *name, const std::vector<double> &table, int size,
                  double stage, double time, double mode) {
    Call call(library);
    call.input(table).input(stage).input(time).outputs(3).derivatives(2, 3);
    if (size != kAllEntries) {
        call.inputSize(1, size);
    }
    return call.run(name, mode);
}

// A fatal outcome: exactly these records, then "Simulation Terminated", status
// 4, and neither outputs nor derivatives touched.
void expectFatal(const Result &r, const std::vector<std::string> &records) {
    std::string text;
    for (const std::string &record : records) {
        text += record + "\n";
    }
    EXPECT_EQ(r.printed, text + "Simulation Terminated\n");
    EXPECT_EQ(r.status, SU55IF_STATUS_FATAL);
    EXPECT_TRUE(r.outputsUntouched());
    EXPECT_TRUE(r.derivativesUntouched());
}

void expectPassed(const Result &r) {
    EXPECT_EQ(r.printed, "");
    EXPECT_EQ(r.status, kStatusBefore);
}

struct StageCase {
    std::vector<double> durations;
    double stageNumber;
    const char *rounded;  // the stage in the diagnostic; null: passes
};

TEST(InteractionChecks, StageNumberIsCheckedAgainstTheScheduleOnEveryCall) {
    const std::vector<double> four{10, 20, 10, 40};
    const StageCase cases[] = {
        {four, 5.0, "5"},      {four, 4.5, "5"},   {four, 4.0, nullptr}, {four, 4.49, nullptr},
        {four, 100.0, "100"},  {four, 2147483647.0, "2147483647"},
        // No lower bound: 0, negatives and what rounds to INT_MIN pass.
        {four, 0.0, nullptr},  {four, -3.0, nullptr}, {four, 1e10, nullptr}, {four, kNaN, nullptr},
        {{7}, 2.0, "2"},       {{}, 5.0, nullptr},  {{}, 1e6, nullptr},
    };
    for (const StageCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.durations.size() << " stages, stage number " << c.stageNumber);
        Library library;
        ASSERT_EQ(defineSchedule(library, c.durations).printed, "");
        const auto before = scheduleBits(library);
        const std::vector<double> table(c.durations.size(), 0.0);
        for (const char *name : kTimingProcedures) {
            for (double time : {0.0, 5.0, kNaN}) {
                for (double mode : {0.0, 1.0, 2.0, 3.0, 4.0, 5.0}) {
                    SCOPED_TRACE(testing::Message() << name << " time " << time << " mode " << mode);
                    const Result r = callTiming(library, name, table, kAllEntries, c.stageNumber, time, mode);
                    if (c.rounded == nullptr) {
                        expectPassed(r);
                        continue;
                    }
                    const std::string stage = std::string("Stage number ") + c.rounded + " is invalid.";
                    if (std::string(name) == "SU55IF_INTTIM") {
                        expectFatal(r, {"Total number stages " + std::to_string(c.durations.size()), stage});
                    } else {
                        expectFatal(r, {stage});
                    }
                }
            }
        }
        EXPECT_EQ(scheduleBits(library), before);
    }
}

TEST(InteractionChecks, StageCheckComesBeforeTheTableCheck) {
    Library library;
    ASSERT_EQ(defineSchedule(library, {10, 20, 10, 40}).printed, "");
    const std::vector<double> selfLink{1, 0, 0, 0};
    expectFatal(callTiming(library, "SU55IF_IINTTIM", selfLink, kAllEntries, 5, 0, 4),
                {"Stage number 5 is invalid."});
    expectFatal(callTiming(library, "SU55IF_IINTTIM", selfLink, kAllEntries, 4, 0, 4),
                {"Interaction stage 1 refers to itself."});
}

struct TableCase {
    const char *what;
    std::vector<double> durations;  // the schedule
    std::vector<double> table;
    const char *diagnostic;  // the record before "Simulation Terminated"; null: passes
    int size = kAllEntries;  // inputSizes(1), when shorter than the values
    std::vector<double> earlier = {};  // a schedule defined before, whose slots stay
};

const std::vector<double> kEqual{10, 10, 10};
const std::vector<double> kPair{10, 10, 30};

const TableCase kTableCases[] = {
    {"no links", kEqual, {0, 0, 0}, nullptr},
    {"entries rounding to no partner", kEqual, {0.3, -0.49, -0.0}, nullptr},
    {"links back", kPair, {2, 1, 0}, nullptr},
    {"links back with the other sign", kPair, {2, -1, 0}, nullptr},
    {"partner without a link", kPair, {2, 0, 0}, nullptr},
    {"2.49 names stage 2", {10, 10, 20}, {2.49, 0, 0}, nullptr},
    {"+0.0 equals -0.0", {0.0, -0.0, 5}, {2, 1, 0}, nullptr},
    {"longer table, extra entries empty", kPair, {2, 1, 0, 0, 0}, nullptr},
    {"no schedule: table not checked", {}, {1, 4, 2}, nullptr},
    {"empty table", kEqual, {1, 0, 0}, nullptr, 0},
    {"negative table size", kEqual, {1, 0, 0}, nullptr, -1},
    {"partner past the table's end has no link", kEqual, {2, 3, 0}, nullptr, 1},
    {"partner past the table's end, durations differ", {10, 20, 10}, {2, 3, 0}, "Interaction stage 1 invalid time match.", 1},
    {"entry above the count reads its slot", kEqual, {0, 0, 0, 1}, nullptr, kAllEntries, {10, 10, 10, 10}},
    {"entry above the count, slot never stored", kEqual, {0, 0, 0, 1}, "Interaction stage 4 invalid time match."},
    {"entry above 100 reads duration 0.0", {0, 5, 5}, linkAt(101, 101, 1), nullptr},
    {"entry above 100, partner not 0.0", kEqual, linkAt(101, 101, 1), "Interaction stage 101 invalid time match."},
    {"self link", kEqual, {1, 0, 0}, "Interaction stage 1 refers to itself."},
    {"0.5 names stage 1", kEqual, {0.5, 0, 0}, "Interaction stage 1 refers to itself."},
    {"later valid links pass, self link found", kPair, {2, 1, 3}, "Interaction stage 3 refers to itself."},
    {"partner above the count", kEqual, {4, 0, 0}, "Interaction stage 1 is invalid."},
    {"3.5 names stage 4", kEqual, {3.5, 0, 0}, "Interaction stage 1 is invalid."},
    {"own number above the count is out of range first", kEqual, {0, 0, 0, 4}, "Interaction stage 4 is invalid."},
    {"NaN partner", kEqual, {kNaN, 0, 0}, "Interaction stage 1 is invalid."},
    {"partner beyond 32 bits", kEqual, {3e9, 0, 0}, "Interaction stage 1 is invalid."},
    {"match comes before duration", {10, 20, 30}, {2, 3, 2}, "Interaction stage 1 has invalid match."},
    {"partner entry NaN", kEqual, {0, 3, kNaN}, "Interaction stage 2 has invalid match."},
    {"only the first faulty entry", kEqual, {0, 2, 4}, "Interaction stage 2 refers to itself."},
    {"-2.5 names stage 3", {10, 10, 20}, {-2.5, 1, 0}, "Interaction stage 1 invalid time match."},
    {"durations differ slightly", {10, 10.000001, 5}, {2, 1, 0}, "Interaction stage 1 invalid time match."},
    {"NaN duration of the partner", {10, kNaN, 5}, {2, 1, 0}, "Interaction stage 1 invalid time match."},
};

TEST(InteractionChecks, TableIsCheckedOnlyAtTheInitialPointButInEveryCallMode) {
    for (const TableCase &c : kTableCases) {
        SCOPED_TRACE(c.what);
        Library library;
        ASSERT_EQ(defineSchedule(library, c.earlier).printed, "");
        ASSERT_EQ(defineSchedule(library, c.durations).printed, "");
        const auto before = scheduleBits(library);
        for (const char *name : kTimingProcedures) {
            for (double time : {0.0, -0.0, -1.0, 1e-9, 5.0, kNaN, kInf}) {
                for (double mode : {0.0, 1.0, 3.0, 4.0}) {
                    SCOPED_TRACE(testing::Message() << name << " time " << time << " mode " << mode);
                    const Result r = callTiming(library, name, c.table, c.size, 1, time, mode);
                    if (c.diagnostic != nullptr && time <= 0.0) {
                        expectFatal(r, {c.diagnostic});
                    } else {
                        expectPassed(r);
                    }
                }
            }
        }
        EXPECT_EQ(scheduleBits(library), before);
    }
}

}  // namespace
}  // namespace su55if::test
