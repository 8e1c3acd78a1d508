#include "schedule/schedule.h"
#include "schedule/any_differs.h"
#include "schedule/stage_table.h"

namespace su55if {

void checkStages(const double *currentDurations, const int *countGiven, const double *checkSwitch,
                 double *changedOut, Diagnostic &diagnostic, const CallTail &tail) {
    if (wantsOutputs(tail.mode)) {
        if (!(*checkSwitch > 0.0)) {
            *changedOut = 0.0;
        } else {
            const std::int32_t count = *countGiven;
            if (count > kMaxStages) {
                // The table has room for kMaxStages stages; a larger schedule is
                // refused as the stage definition refuses it.
                refuseStageCount(count, diagnostic);
                return;
            }
            bool changed = false;
            if (count != stageTable.stageCount) {
                stageTable.stageCount = count;
                for (std::int32_t k = 0; k < count; ++k) {
                    stageTable.stageDurations[k] = currentDurations[k];
                }
                changed = true;
            } else if (anyDiffers(stageTable.stageDurations, currentDurations, count)) {
                // Equal values keep the stored one, so a stored +0.0 keeps its
                // sign against -0.0; a NaN on either side is a change. (The
                // quick comparison of all stages first spares the usual call,
                // in which nothing changed, this loop.)
                for (std::int32_t k = 0; k < count; ++k) {
                    if (stageTable.stageDurations[k] != currentDurations[k]) {
                        stageTable.stageDurations[k] = currentDurations[k];
                        changed = true;
                    }
                }
            }
            *changedOut = changed ? 1.0 : 0.0;
        }
    }
    finishCall(tail);
}

}  // namespace su55if
