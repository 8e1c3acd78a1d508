// The stage duration update through its export, with the shared stage table
// observed through the stage definition.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "harness/helpers.h"

namespace su55if::test {
namespace {


Result update(const Library &lib, double updateSwitch, double stage, double duration, std::vector<double> links,
              std::optional<int> linksSize = {}, double mode = 0.0) {
    Call call(lib);
    call.input(updateSwitch).input(stage).input(duration).input(std::move(links)).output().derivatives(1, 1);
    if (linksSize) {
        call.inputSize(4, *linksSize);
    }
    return call.run("SU55IF_UPSTGTIM", mode);
}

struct UpdateCase {
    const char *name;
    double updateSwitch, stage, duration;
    std::vector<double> links;
    std::optional<int> linksSize;
    std::optional<double> result;  // none: not written
    std::vector<std::size_t> set;   // slots that take the duration
    double mode = 0.0;
};

// Schedule 10..50 defined, then slot 1 changed to 11 by the change check, so
// cycleDuration is stale at 150 until the update recomputes it.
TEST(StageDurationUpdate, SetsStageAndPartnerAndRecomputesTheCycle) {
    const UpdateCase cases[] = {
        {"partner by negative entry", 1, 2, 33, {0, -4, 0, 2, 0}, {}, 2.0, {2, 4}},
        {"partner by positive entry", 1, 2, 33, {0, 4}, {}, 2.0, {2, 4}},
        {"no partner", 1, 2, 33, {0, 0}, {}, 1.0, {2}},
        {"-0.4 is no partner", 1, 2, 33, {0, -0.4}, {}, 1.0, {2}},
        {"-2.6 names stage 3", 1, 2, 33, {0, -2.6}, {}, 2.0, {2, 3}},
        {"-2.5 names stage 3", 1, 2, 33, {0, -2.5}, {}, 2.0, {2, 3}},
        {"self link", 1, 3, 33, {0, 0, -3}, {}, 2.0, {3}},
        {"NaN switch goes ahead", kNaN, 2, 33, {0, 0}, {}, 1.0, {2}},
        {"switch 1e-300", 1e-300, 2, 33, {0, 0}, {}, 1.0, {2}},
        {"stage 0.5 is stage 1", 1, 0.5, 33, {0}, {}, 1.0, {1}},
        {"stage 2.49 is stage 2", 1, 2.49, 33, {0, 0}, {}, 1.0, {2}},
        {"stage 100, above stageCount", 1, 100, 33, std::vector<double>(100, 0.0), {}, 1.0, {100}},
        {"stage above stageCount, partner within", 1, 7, 33, linkAt(7, 7, 2), {}, 2.0, {7, 2}},
        {"partner 100", 1, 2, 33, {0, 100}, {}, 2.0, {2, 100}},
        {"partner above stageCount", 1, 2, 33, {0, 9}, {}, 2.0, {2, 9}},
        {"-0.0 duration keeps its sign", 1, 2, -0.0, {0, -4}, {}, 2.0, {2, 4}},
        {"NaN duration", 1, 2, kNaN, {0, 0}, {}, 1.0, {2}},
        {"infinite duration", 1, 2, kInf, {0, 0}, {}, 1.0, {2}},
        {"switch 0", 0, 2, 33, {0, 0}, {}, 0.0, {}},
        {"switch -0.0", -0.0, 2, 33, {0, 0}, {}, 0.0, {}},
        {"switch -1", -1, 2, 33, {0, 0}, {}, 0.0, {}},
        {"stage 0.4 is none", 1, 0.4, 33, {0}, {}, 0.0, {}},
        {"stage -1", 1, -1, 33, {0}, {}, 0.0, {}},
        {"stage NaN", 1, kNaN, 33, {0}, {}, 0.0, {}},
        {"stage 1e10", 1, 1e10, 33, {0}, {}, 0.0, {}},
        {"stage 101", 1, 101, 33, std::vector<double>(101, 0.0), {}, 0.0, {}},
        {"stage beyond the table's size", 1, 3, 33, {0, 0, 0}, 2, 0.0, {}},
        {"table size 0", 1, 1, 33, {0}, 0, 0.0, {}},
        {"partner 101", 1, 2, 33, {0, 101}, {}, 0.0, {}},
        {"partner 100.5", 1, 2, 33, {0, -100.5}, {}, 0.0, {}},
        {"partner NaN", 1, 2, 33, {0, kNaN}, {}, 0.0, {}},
        {"partner 1e300", 1, 2, 33, {0, -1e300}, {}, 0.0, {}},
        {"partner infinite", 1, 2, 33, {0, -kInf}, {}, 0.0, {}},
        {"call mode 3", 1, 2, 33, {0, 0}, {}, {}, {}, 3.0},
        {"call mode 1", 1, 2, 33, {0, 0}, {}, {}, {}, 1.0},
    };
    for (const UpdateCase &c : cases) {
        SCOPED_TRACE(c.name);
        Library library;
        const std::vector<double> base{10, 20, 30, 40, 50};
        defineSchedule(library, base, 1.0);
        Call check(library);
        check.input({11, 20, 30, 40, 50}).input(1).output().run("SU55IF_CHKST");

        const Result r = update(library, c.updateSwitch, c.stage, c.duration, c.links, c.linksSize, c.mode);
        EXPECT_EQ(r.status, kStatusBefore);
        EXPECT_EQ(r.printed, "");
        if (c.result) {
            EXPECT_TRUE(sameReal(r.out(1), *c.result)) << r.out(1);
        } else {
            EXPECT_TRUE(r.outputsUntouched());
        }

        std::vector<double> slots(SU55IF_MAX_STAGES, 0.0);
        std::copy(base.begin(), base.end(), slots.begin());
        slots[0] = 11;
        for (std::size_t k : c.set) {
            slots[k - 1] = c.duration;
        }
        const Result table = reportSchedule(library);
        for (std::size_t k = 0; k < slots.size(); ++k) {
            EXPECT_TRUE(sameReal(table.out(1, k + 1), slots[k])) << "slot " << k + 1;
        }
        const bool recomputed = c.result && *c.result != 0.0;
        const double cycle = recomputed ? slots[0] + slots[1] + slots[2] + slots[3] + slots[4] : 150.0;
        EXPECT_TRUE(sameReal(table.out(5), cycle)) << table.out(5);
        EXPECT_EQ(stageCountSeen(library), 5);
    }
}

TEST(StageDurationUpdate, WithoutStagesTheCycleIsZero) {
    Library library;
    EXPECT_EQ(update(library, 1, 2, 33, {0, 1}).out(1), 2.0);
    const Result table = reportSchedule(library);
    EXPECT_EQ(table.out(1, 1), 33.0);
    EXPECT_EQ(table.out(1, 2), 33.0);
    EXPECT_TRUE(sameReal(table.out(5), 0.0));
}

}  // namespace
}  // namespace su55if::test
