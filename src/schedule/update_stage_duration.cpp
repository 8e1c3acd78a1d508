#include "schedule/schedule.h"
#include "schedule/stage_table.h"

namespace su55if {

namespace {

// Sets the duration(s) and returns the result code, or 0.0 when the stage or
// its partner names no slot (or no table entry), in which case nothing changes.
double setDurations(const double *stageNumber, const double *newDuration,
                    const double *interactionTable, const int *tableSize) {
    const std::int32_t stage = roundToInt(*stageNumber);
    if (!isSlot(stage) || stage > *tableSize) {
        return 0.0;
    }
    const std::int32_t partner = roundMagnitudeToInt(interactionTable[stage - 1]);
    if (partner != 0 && !isSlot(partner)) {
        return 0.0;
    }
    stageTable.stageDurations[stage - 1] = *newDuration;
    if (partner != 0) {
        stageTable.stageDurations[partner - 1] = *newDuration;
    }
    recomputeCycleDuration();
    return partner != 0 ? 2.0 : 1.0;
}

}  // namespace

void updateStageDuration(const double *updateSwitch, const double *stageNumber,
                         const double *newDuration, const double *interactionTable,
                         const int *tableSize, double *resultOut, const CallTail &tail) {
    if (wantsOutputs(tail.mode)) {
        // A NaN switch is not "0 or less": the update goes ahead.
        *resultOut = *updateSwitch <= 0.0
                         ? 0.0
                         : setDurations(stageNumber, newDuration, interactionTable, tableSize);
    }
    finishCall(tail);
}

}  // namespace su55if
