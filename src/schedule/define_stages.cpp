#include "schedule/schedule.h"
#include "schedule/any_differs.h"
#include "schedule/stage_table.h"

#include <cstring>

namespace su55if {

namespace {

struct ChangeFlags {
    bool requested = false;
    bool inForce = false;
};

// Compares every passed stage with the table, without stopping at the first
// difference. A NaN on either side differs, +0.0 against -0.0 does not,
// which is what "differs" means here.
ChangeFlags detectChanges(std::int32_t count, const double *requested, const double *inForce) {
    ChangeFlags flags;
    if (count != stageTable.stageCount || count < 1) {
        return flags;
    }
    flags.requested = anyDiffers(requested, stageTable.requestedDurations, count);
    flags.inForce = anyDiffers(inForce, stageTable.stageDurations, count);
    return flags;
}

}  // namespace

void refuseStageCount(std::int32_t count, Diagnostic &diagnostic) {
    diagnostic.record("Number of stages %d is greater than maximum of %d allowed.", count, kMaxStages);
    diagnostic.terminate();
}

void defineStages(const double *requested, const double *inForce, const double *holdSwitch,
                  const double *currentTime, const double *stageNumber, const double *referenceTime,
                  const int *stageCountGiven, double *durationsOut, const int *durationsOutCount,
                  double *stageDurationOut, double *nextDurationOut, double *elapsedOut,
                  double *cycleDurationOut, Diagnostic &diagnostic, const CallTail &tail) {
    const std::int32_t count = *stageCountGiven;
    const double time = *currentTime;
    const ChangeFlags changed = detectChanges(count, requested, inForce);
    const bool countDiffers = count != stageTable.stageCount;

    // At the initial point the table follows the requested durations alone;
    // later it follows both passed vectors unless the hold switch is set. A
    // NaN time is neither, so it never accepts.
    bool accept = false;
    const double *source = requested;
    if (time <= 0.0) {
        accept = countDiffers || changed.requested;
    } else if (time > 0.0 && roundToInt(*holdSwitch) == 0) {
        accept = countDiffers || changed.requested || changed.inForce;
        source = inForce;
    }

    if (accept) {
        if (count > kMaxStages) {
            refuseStageCount(count, diagnostic);
            return;
        }
        storeSchedule(count, requested, source);
        *cycleDurationOut = stageTable.cycleDuration;
    }

    if (wantsOutputs(tail.mode)) {
        // The table's slots as far as asked for, zeros past its end.
        const std::int64_t reported = *durationsOutCount;
        const std::int64_t copied = reported < kMaxStages ? reported : kMaxStages;
        // One bulk copy: the host's vector cannot overlap the library's table.
        if (copied > 0) {
            std::memcpy(durationsOut, stageTable.stageDurations, static_cast<std::size_t>(copied) * sizeof(double));
        }
        for (std::int64_t k = copied < 0 ? 0 : copied; k < reported; ++k) {
            durationsOut[k] = 0.0;
        }
        const std::int32_t stage = roundToInt(*stageNumber);
        *stageDurationOut = durationOrZero(stage);
        *nextDurationOut = stage < stageTable.stageCount ? durationOrZero(static_cast<std::int64_t>(stage) + 1)
                                                          : stageTable.stageDurations[0];
        const double reference = *referenceTime;
        *elapsedOut = (time > 0.0 && time >= reference) ? time - reference : 0.0;
        *cycleDurationOut = stageTable.cycleDuration;
    }

    finishCall(tail);
}

}  // namespace su55if
