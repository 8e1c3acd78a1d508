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
        double start = workspace[startTime];
        double end = workspace[endTime];
        const double time = *timeValue;
        const double signal = *signalValue;

        // Ordered comparisons: a NaN signal neither starts nor ends the period,
        // and one call cannot do both.
        double duration = 0.0;
        if (!started && signal > 0.0) {
            started = true;
            start = time;
        } else if (started && !finished && signal <= 0.0) {
            finished = true;
            end = workspace[previousTime];
        }
        if (started && finished) {
            duration = end - start;
        }

        workspace[previousTime] = time;
        workspace[startTime] = start;
        workspace[endTime] = end;
        workspace[startedFlag] = started ? 1.0 : 0.0;
        workspace[finishedFlag] = finished ? 1.0 : 0.0;
        *recordedDurationOut = duration;
    }
    finishCall(tail);
    *status = 1;
}

}  // namespace su55if
