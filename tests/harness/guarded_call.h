// A call of one procedure through a frame laid out by
// su55if::procedures::Frame, with every argument that the frame keeps by
// itself (status, workspace, derivative block, the integer vectors,
// callMode and argument 8) between guard cells, and a check afterwards of
// everything that the call must not change. The tests and the fuzz targets
// both call through it; it depends on nothing but the frame.
#pragma once

#include <string>
#include <vector>

#include "callkit/procedures.h"

namespace su55if::test {

class GuardedCall {
public:
    // Takes note of which cells of realInputs and realOutputs the frame's
    // arguments occupy now: every other cell is a gap that must keep its
    // value. Sizes and offsets may be altered afterwards (hostile sizes).
    explicit GuardedCall(const procedures::Frame &frame);

    // Calls `function` with the frame's arguments, status preset to
    // frame.statusBefore, and copies status, workspace and derivative block
    // back into the frame. Returns what changed that must not have: a gap of
    // realOutputs, any input, a guard, an integer vector, callMode, argument 8.
    std::vector<std::string> run(procedures::Frame &frame, su55if_procedure *function, double callMode) const;

private:
    std::vector<bool> outputCell_;  // per cell of realOutputs: part of an argument
};

// Equal bit patterns.
bool sameBits(double a, double b);

}  // namespace su55if::test
