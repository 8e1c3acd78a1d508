#include "timing/timing.h"

namespace su55if {

namespace {

// Workspace slots (0-based here).
enum Slot { startTime, endTime, previousTime, startedFlag, finishedFlag };

}  // namespace

void recordStepDuration(const double *signalValue, const double *timeValue, double *recordedDurationOut,
                        double *workspace, int *status, const CallTail &tail) {
    if (wantsOutputs(tail.mode)) {
        // Flags read as set only when strictly above 0.5 (0.5 and NaN are clear).
        bool started = workspace[startedFlag] > 0.5;
        bool finished = workspace[finishedFlag] > 0.5;
        const double time = *timeValue;
        const double signal = *signalValue;

        // Ordered comparisons: a NaN signal neither starts nor ends the
        // period, and one call cannot do both. A time is written only when it
        // is latched; the other slots keep their values.
        if (!started) {
            if (signal > 0.0) {
                started = true;
                workspace[startTime] = time;
            }
        } else if (!finished && signal <= 0.0) {
            finished = true;
            workspace[endTime] = workspace[previousTime];
        }
        *recordedDurationOut = started && finished ? workspace[endTime] - workspace[startTime] : 0.0;

        workspace[previousTime] = time;
        workspace[startedFlag] = started ? 1.0 : 0.0;
        workspace[finishedFlag] = finished ? 1.0 : 0.0;
    }
    finishCall(tail);
    *status = SU55IF_STATUS_REPTIM;
}

}  // namespace su55if
