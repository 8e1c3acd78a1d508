// The stage clock: which stage is in force at a time and where it began,
// many cycles on, without drift and whatever way time advances.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "engine/error.h"
#include "engine/stage_clock.h"

namespace su55if::test {
namespace {

using engine::ExactTime;
using engine::Error;
using engine::StageClock;

TEST(StageClock, PlacesStagesAcrossCyclesAndSkipsStagesOfNoDuration) {
    struct Case {
        std::vector<double> durations;
        int anchorStage;
        double anchorTime;
        double time;
        int stage;
        double start;
    };
    const Case cases[] = {
        {{10, 0, 20}, 1, 0, 0, 1, 0},
        {{10, 0, 20}, 1, 0, 9.75, 1, 0},
        {{10, 0, 20}, 1, 0, 10, 3, 10},        // stage 2 lasts 0: never in force
        {{10, 0, 20}, 1, 0, 30, 1, 30},
        {{10, 0, 20}, 1, 0, 3e6 + 15, 3, 3e6 + 10},
        {{10, 20, 30}, 3, 5, 5, 3, 5},         // anchored at stage 3, begun at 5
        {{10, 20, 30}, 3, 5, 35, 1, 35},
        {{10, 20, 30}, 3, 5, 64, 2, 45},
        {{10, 20, 30}, 3, 5, 65, 3, 65},
    };
    for (const Case &c : cases) {
        StageClock clock;
        clock.reset(c.durations, c.anchorStage, {c.anchorTime, 0.0});
        clock.advanceTo(c.time);
        EXPECT_EQ(clock.stage(), c.stage) << "time " << c.time;
        EXPECT_EQ(clock.start().hi, c.start) << "time " << c.time;
    }
}

// Durations that no binary fraction holds: a clock that added them sample
// after sample would drift; stepping and jumping must agree everywhere.
TEST(StageClock, SteppingAndJumpingAgreeOverManyCycles) {
    const std::vector<double> durations{0.1, 0.2, 0.3, 0.7};
    StageClock stepped;
    stepped.reset(durations, 1, {});
    const double interval = 0.0700003;
    for (int step = 0; step <= 2'000'000; step += 1) {
        const double time = step * interval;
        stepped.advanceTo(time);
        if (step % 99'991 == 0) {
            StageClock jumped;
            jumped.reset(durations, 1, {});
            jumped.advanceTo(time);
            ASSERT_EQ(jumped.stage(), stepped.stage()) << "time " << time;
            ASSERT_EQ(jumped.start().hi, stepped.start().hi) << "time " << time;
            ASSERT_LE(stepped.start().hi, time);
        }
    }
}

TEST(StageClock, RefusesCyclesThatCannotBeStepped) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const std::vector<double> &durations : std::vector<std::vector<double>>{
             {0, 0}, {1e308, 1e308}, {inf, 1}, {nan, 1}}) {
        StageClock clock;
        EXPECT_THROW(clock.reset(durations, 1, {}), Error) << durations[0];
    }
    StageClock clock;
    clock.reset({1, 1}, 1, {});
    EXPECT_THROW(clock.advanceTo(2.0 * engine::kMaxCycles * 4.0), Error);
}

}  // namespace
}  // namespace su55if::test
