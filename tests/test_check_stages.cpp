// The stage change check through its export, with the shared stage table
// observed through the stage definition.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "harness/helpers.h"

namespace su55if::test {
namespace {

const std::vector<double> kBase{10, 20, 30, 40, 50};

void expectSlots(const Library &lib, const std::vector<double> &expected) {
    const Result r = reportSchedule(lib);
    for (std::size_t k = 0; k < expected.size(); ++k) {
        EXPECT_TRUE(sameReal(r.out(1, k + 1), expected[k])) << "slot " << k + 1 << ": " << r.out(1, k + 1);
    }
}

Result check(const Library &lib, const std::vector<double> &durations, double checkSwitch = 1.0,
             std::optional<int> size = {}, double mode = 0.0) {
    Call call(lib);
    call.input(durations).input(checkSwitch).output().derivatives(2, 3);
    if (size) {
        call.inputSize(1, *size);
    }
    return call.run("SU55IF_CHKST", mode);
}

std::vector<double> hundred() {
    std::vector<double> v;
    for (int k = 1; k <= SU55IF_MAX_STAGES; ++k) {
        v.push_back(1.5 * k);
    }
    return v;
}

struct Step {
    std::vector<double> durations;
    double changed;
    std::optional<int> size = {};  // inputSizes(1) when not the element count
};

struct SequenceCase {
    const char *name;
    std::vector<double> defined;  // empty: a freshly loaded table
    std::vector<Step> steps;
    std::vector<double> slots;
    std::optional<int> count;  // none where countSeen cannot tell
};

TEST(StageChangeCheck, TakesDurationsAndCountIntoTheTable) {
    const SequenceCase cases[] = {
        {"fresh table, zeros", {}, {{{0, 0, 0}, 1}, {{0, 0, 0}, 0}}, {0, 0, 0}, {}},
        {"fresh table", {}, {{{4, 5, 6}, 1}, {{4, 5, 6}, 0}}, {4, 5, 6, 0}, 3},
        {"same values", kBase, {{kBase, 0}}, kBase, 5},
        {"one value", kBase, {{{10, 20, 35, 40, 50}, 1}, {{10, 20, 35, 40, 50}, 0}}, {10, 20, 35, 40, 50}, 5},
        {"every differing value", kBase, {{{11, 20, 30, 40, 55}, 1}}, {11, 20, 30, 40, 55}, 5},
        {"shrink keeps the slots above", kBase, {{{7, 8}, 1}, {{7, 8}, 0}}, {7, 8, 30, 40, 50}, 2},
        {"grow", kBase, {{{1, 2, 3, 4, 5, 6, 7}, 1}}, {1, 2, 3, 4, 5, 6, 7}, 7},
        {"new size with equal values", kBase, {{{10, 20, 30}, 1}}, kBase, 3},
        // The last step reports a change only if the count really became 0.
        {"size 0", kBase, {{{}, 1}, {{}, 0}, {{10}, 1}}, kBase, 1},
        {"negative size", kBase, {{{}, 1, -2}, {{}, 0, -2}}, kBase, -2},
        {"stored +0.0 against -0.0", {10, 0.0, 30}, {{{10, -0.0, 30}, 0}}, {10, 0.0, 30}, 3},
        {"stored -0.0 against +0.0", {10, -0.0, 30}, {{{10, 0.0, 30}, 0}}, {10, -0.0, 30}, 3},
        {"changed value copied with its sign", kBase, {{{10, -0.0, 30, 40, 50}, 1}}, {10, -0.0, 30, 40, 50}, 5},
        {"size change copies the sign of zero", kBase, {{{10, -0.0}, 1}}, {10, -0.0, 30}, 2},
        {"NaN is a change every time",
         kBase,
         {{{10, kNaN, 30, 40, 50}, 1}, {{10, kNaN, 30, 40, 50}, 1}},
         {10, kNaN, 30, 40, 50},
         5},
        {"NaN stored against a number", {10, kNaN, 30}, {{{10, 20, 30}, 1}, {{10, 20, 30}, 0}}, {10, 20, 30}, 3},
        {"100 stages", kBase, {{hundred(), 1}, {hundred(), 0}}, hundred(), 100},
    };
    for (const SequenceCase &c : cases) {
        SCOPED_TRACE(c.name);
        Library library;
        double cycle = 0.0;
        if (!c.defined.empty()) {
            cycle = defineSchedule(library, c.defined, 1.0).out(5);
        }
        for (const Step &s : c.steps) {
            const Result r = check(library, s.durations, 1.0, s.size, SU55IF_MODE_BOTH);
            EXPECT_TRUE(sameReal(r.out(1), s.changed)) << r.out(1);
            EXPECT_TRUE(r.derivativesZeroed());
            EXPECT_EQ(r.status, kStatusBefore);
            EXPECT_EQ(r.printed, "");
        }
        expectSlots(library, c.slots);
        if (c.count) {
            EXPECT_EQ(stageCountSeen(library), *c.count);
        }
        EXPECT_TRUE(sameReal(reportSchedule(library).out(5), cycle)) << "cycleDuration is not recomputed";
    }
}

TEST(StageChangeCheck, ChangesNothingUnlessEnabledAndAskedForOutputs) {
    std::vector<double> tooMany(SU55IF_MAX_STAGES + 1, 1.0);
    for (const std::vector<double> &durations : {std::vector<double>{1, 2, 3, 4, 5}, {1, 2}, tooMany}) {
        Library library;
        defineSchedule(library, kBase, 1.0);
        for (double checkSwitch : {0.0, -0.0, -1.0, kNaN}) {
            const Result r = check(library, durations, checkSwitch);
            EXPECT_TRUE(sameReal(r.out(1), 0.0)) << checkSwitch;
            EXPECT_EQ(r.printed, "");
        }
        for (double mode : {1.0, 2.0, 3.0, 5.0, -1.0, kNaN}) {
            const Result r = check(library, durations, 1.0, {}, mode);
            EXPECT_TRUE(r.outputsUntouched()) << mode;
            EXPECT_EQ(r.printed, "");
            EXPECT_EQ(r.status, kStatusBefore);
        }
        expectSlots(library, kBase);
        EXPECT_EQ(stageCountSeen(library), 5);
    }
}

TEST(StageChangeCheck, RefusesMoreThanOneHundredStages) {
    for (const std::size_t size : {std::size_t{SU55IF_MAX_STAGES + 1}, std::size_t{250}}) {
        Library library;
        defineSchedule(library, kBase, 1.0);
        const Result r = check(library, std::vector<double>(size, 2.0), 0.5, {}, SU55IF_MODE_BOTH);
        EXPECT_EQ(r.printedLines(),
                  (std::vector<std::string>{"Number of stages " + std::to_string(size) +
                                                " is greater than maximum of 100 allowed.",
                                            "Simulation Terminated"}));
        EXPECT_EQ(r.status, SU55IF_STATUS_FATAL);
        EXPECT_TRUE(r.outputsUntouched());
        EXPECT_TRUE(r.derivativesUntouched());
        expectSlots(library, kBase);
        EXPECT_EQ(stageCountSeen(library), 5);
        EXPECT_EQ(reportSchedule(library).out(5), 150.0);
    }
}

TEST(StageChangeCheck, LeavesRequestedDurationsForTheStageDefinition) {
    Library library;
    defineSchedule(library, {10, 20, 30}, 1.0);
    EXPECT_EQ(check(library, {10, 25, 30}).out(1), 1.0);
    EXPECT_EQ(check(library, {1, 2}).out(1), 1.0);
    EXPECT_EQ(check(library, {10, 25, 30}).out(1), 1.0);
    // Same count and the requested durations as last accepted: no acceptance
    // (an acceptance would write output 5 in call mode 1).
    EXPECT_TRUE(defineSchedule(library, {10, 20, 30}, 1.0).outputsUntouched());
    expectSlots(library, {10, 25, 30});
    EXPECT_EQ(reportSchedule(library).out(5), 60.0);
    // Running rule: the passed durations in force equal the checked ones, so
    // nothing differs from the table and nothing is accepted.
    Call running(library);
    running.input({10, 20, 30}).input({10, 25, 30}).input(0).input(5).input(1).input(0).output().outputs(4);
    EXPECT_TRUE(running.run("SU55IF_DEFST", 1.0).outputsUntouched());
    // The reports of the stage definition read the checked durations.
    const Result r = reportSchedule(library, 2);
    EXPECT_EQ(r.out(2), 25.0);
    EXPECT_EQ(r.out(3), 30.0);
    EXPECT_EQ(r.out(5), 60.0);
}

}  // namespace
}  // namespace su55if::test
