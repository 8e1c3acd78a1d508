// Bodies of the procedures that use no shared state.
#pragma once

#include "frame/frame.h"

namespace su55if {

// Latches the start and end of the first positive period of signalValue in
// the instance's workspace (5 reals) and reports its length; status 1.
void recordStepDuration(const double *signalValue, const double *timeValue, double *recordedDurationOut,
                        double *workspace, int *status, const CallTail &tail);

// 1.0 unless switchValue > switchLimit or switchEnable < 0.
void switchSignal(const double *switchLimit, const double *switchValue, const double *switchEnable,
                  double *switchSignalOut, const CallTail &tail);

}  // namespace su55if
