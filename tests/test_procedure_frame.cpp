// The frame laid out from the procedure description: the manual's worked
// layout, and calls by name through the exported procedures.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "harness/helpers.h"
#include "callkit/procedures.h"

namespace su55if::test {
namespace {

using su55if::procedures::Frame;
using su55if::procedures::Placement;

TEST(ProcedureFrame, PacksTheManualsStageDefinitionExample) {
    Library library;
    Frame frame("SU55IF_DEFST", {{"requestedDurations", 3}, {"stageDurations", 3}});
    EXPECT_EQ(frame.inputSizes, (std::vector<int>{3, 3, 1, 1, 1, 1}));
    EXPECT_EQ(frame.inputOffsets, (std::vector<int>{1, 4, 7, 8, 9, 10}));
    EXPECT_EQ(frame.outputSizes, (std::vector<int>{3, 1, 1, 1, 1}));
    EXPECT_EQ(frame.outputOffsets, (std::vector<int>{1, 4, 5, 6, 7}));

    const std::vector<double> durations{10, 20, 30};
    frame.set("requestedDurations", durations);
    frame.set("currentDurations", durations);
    frame.set("stageNumber", 2.0);
    EXPECT_EQ(frame.call(library.procedure("SU55IF_DEFST")), 0);
    EXPECT_EQ(frame.realOutputs, (std::vector<double>{10, 20, 30, 20, 30, 0, 60}));
    EXPECT_EQ(frame.value("cycleDuration"), 60.0);
}

TEST(ProcedureFrame, GapsAndReversedOrderKeepArgumentsApart) {
    Library library;
    Frame frame("SU55IF_PFNRSWTCH", {}, Placement{.gap = 2, .gapValue = -100.0, .reversed = true});
    EXPECT_EQ(frame.inputOffsets, (std::vector<int>{9, 6, 3}));
    frame.set("switchLimit", 5.0);
    frame.set("switchValue", 6.0);
    frame.set("switchEnable", 1.0);
    frame.call(library.procedure("SU55IF_PFNRSWTCH"));
    EXPECT_EQ(frame.value("switchSignal"), 0.0);
    EXPECT_EQ(frame.realOutputs, (std::vector<double>{-100, -99, 0.0, -97, -96}));
}

TEST(ProcedureFrame, RefusesWhatTheDescriptionDoesNotHave) {
    EXPECT_THROW(Frame("SU55IF_NONE"), std::invalid_argument);
    EXPECT_THROW(Frame("SU55IF_CHKST"), std::invalid_argument);  // the durations need a length
    EXPECT_THROW(Frame("SU55IF_CHKST", {{"durations", 2}}), std::invalid_argument);
    Frame frame("SU55IF_CHKST", {{"currentDurations", 2}});
    EXPECT_THROW(frame.set("currentDurations", 1.0), std::invalid_argument);
    EXPECT_THROW(frame.set("checkswitch", 1.0), std::invalid_argument);
}

}  // namespace
}  // namespace su55if::test
