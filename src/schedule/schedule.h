// Bodies of the procedures that define and change the stage schedule.
#pragma once

#include "frame/frame.h"

namespace su55if {

// Refuses a schedule of more than kMaxStages stages: the stage-limit record,
// "Simulation Terminated" and status 4. The caller returns at once.
void refuseStageCount(std::int32_t count, Diagnostic &diagnostic);

// Accepts a passed schedule into the stage table when it differs (in every
// call mode), then reports the table. v = *stageCountGiven stages are passed;
// *durationsOutCount durations are reported.
void defineStages(const double *requested, const double *inForce, const double *holdSwitch,
                  const double *currentTime, const double *stageNumber, const double *referenceTime,
                  const int *stageCountGiven, double *durationsOut, const int *durationsOutCount,
                  double *stageDurationOut, double *nextDurationOut, double *elapsedOut,
                  double *cycleDurationOut, Diagnostic &diagnostic, const CallTail &tail);

// Takes the *countGiven durations in force into the table and reports 1.0
// when anything changed.
void checkStages(const double *currentDurations, const int *countGiven, const double *checkSwitch,
                 double *changedOut, Diagnostic &diagnostic, const CallTail &tail);

// Sets the duration of one stage and of its partner, then recomputes the
// cycle duration.
void updateStageDuration(const double *updateSwitch, const double *stageNumber,
                         const double *newDuration, const double *interactionTable,
                         const int *tableSize, double *resultOut, const CallTail &tail);

}  // namespace su55if
