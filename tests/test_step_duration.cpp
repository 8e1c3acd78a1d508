// The step duration recorder through its export: the latching sequence in
// the instance's workspace, the flag thresholds and the call modes that must
// leave the workspace alone. The harness guards the cells around the five
// workspace slots.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "harness/helpers.h"

namespace su55if::test {
namespace {


struct Step {
    double signal, time;
    std::optional<double> out;  // none: a call mode that must not write it
    double mode = 0.0;
};

struct RecorderCase {
    const char *name;
    std::vector<double> workspace;  // startTime, endTime, previousTime, started, finished
    std::vector<Step> steps;
    std::vector<double> after;
};

const std::vector<double> kZeroed{0, 0, 0, 0, 0};

const RecorderCase kCases[] = {
    {"end latched at the last positive call",
     kZeroed,
     {{0, 1, 0}, {1, 2, 0}, {1, 3, 0}, {1, 4, 0}, {0, 5, 2}, {1, 6, 2}, {0, 7, 2, 4.0}},
     {2, 4, 7, 1, 1}},
    {"positive at one call only", kZeroed, {{1, 10, 0}, {0, 11, 0}, {-1, 12, 0}}, {10, 10, 12, 1, 1}},
    {"NaN neither starts nor ends",
     kZeroed,
     {{kNaN, 1, 0}, {1, 2, 0}, {kNaN, 3, 0}, {-0.0, 4, 1}},
     {2, 3, 4, 1, 1}},
    {"only output calls move previousTime",
     kZeroed,
     {{1, 2, 0}, {1, 3, 0}, {0, 4, {}, 3}, {0, 5, {}, 1}, {0, 6, {}, 2}, {0, 7, {}, 5}, {0, 8, {}, -1},
      {0, 9, {}, kNaN}, {1, 10, {}, 3.999}, {0, 11, 1, -0.7}},
     {2, 3, 11, 1, 1}},
    {"non-output calls do not start", kZeroed, {{1, 1, {}, 3}, {1, 2, {}, 1}}, kZeroed},
    {"first previousTime is the workspace's", {2, 0, -4, 1, 0}, {{0, 5, -6}}, {2, -4, 5, 1, 1}},
    {"started flag 0.5 reads clear", {0, 0, 0, 0.5, 0}, {{1, 3, 0}}, {3, 0, 3, 1, 0}},
    {"started flag NaN reads clear", {0, 0, 0, kNaN, 0}, {{1, 3, 0}}, {3, 0, 3, 1, 0}},
    {"started flag 0.51 reads set", {7, 0, 0, 0.51, 0}, {{1, 3, 0}}, {7, 0, 3, 1, 0}},
    {"finished flag 0.5 reads clear", {2, 9, 4, 1, 0.5}, {{0, 5, 2}}, {2, 4, 5, 1, 1}},
    {"finished flag NaN reads clear", {2, 9, 4, 1, kNaN}, {{1, 5, 0}}, {2, 9, 5, 1, 0}},
    {"finished flag 0.51 reads set", {2, 9, 4, 1, 0.51}, {{1, 5, 7}}, {2, 9, 5, 1, 1}},
    {"finished without started waits as idle, then is done at once",
     {0, 9, 4, 0, 1},
     {{0, 5, 0}, {1, 6, 3}, {0, 7, 3}},
     {6, 9, 7, 1, 1}},
};

TEST(StepDurationRecorder, LatchesTheFirstPositivePeriod) {
    Library library;
    for (const RecorderCase &c : kCases) {
        SCOPED_TRACE(c.name);
        std::vector<double> workspace = c.workspace;
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const Step &s = c.steps[i];
            SCOPED_TRACE(testing::Message() << "step " << i + 1);
            Call call(library);
            const Result r = call.input(s.signal).input(s.time).output().workspace(workspace).derivatives(1, 2).run(
                "SU55IF_REPTIM", s.mode);
            EXPECT_EQ(r.status, SU55IF_STATUS_REPTIM);
            EXPECT_EQ(r.printed, "");
            if (s.out) {
                const double out = r.out(1);
                // A zero output is +0.0, never -0.0.
                EXPECT_TRUE(sameReal(out, *s.out)) << out;
            } else {
                EXPECT_TRUE(r.outputsUntouched());
                for (std::size_t k = 0; k < 5; ++k) {
                    EXPECT_TRUE(sameReal(r.workspace[k], workspace[k])) << "slot " << k + 1;
                }
            }
            workspace = r.workspace;
        }
        for (std::size_t k = 0; k < 5; ++k) {
            EXPECT_TRUE(sameReal(workspace[k], c.after[k])) << "slot " << k + 1 << ": " << workspace[k];
        }
    }
}

}  // namespace
}  // namespace su55if::test
