#include "interactions/interactions.h"
#include "schedule/stage_table.h"

namespace su55if {

namespace {

struct TimingResult {
    double delayForCode2;
    double delayForCode1;
    double actionCode;
};

constexpr TimingResult kNoInteraction{0.0, 0.0, 0.0};

// The span from the start of stage `stage` back to the last start of its
// partner, by the sign of the stage's entry and the order of the two stages.
TimingResult computeTiming(const double *interactionTable, std::int32_t tableSize, std::int32_t stage,
                           double currentTime, TimingVariant variant) {
    // A schedule without stages (a count of 0 or less), and a stage or partner
    // without a table entry or a stage slot, interact with nothing; a NaN or
    // huge entry rounds to kInvalidInteger and lands here too.
    if (stageTable.stageCount <= 0 || !isSlot(stage) || stage > tableSize) {
        return kNoInteraction;
    }
    const double entry = interactionTable[stage - 1];
    const std::int32_t partner = roundMagnitudeToInt(entry);
    if (!isSlot(partner)) {
        return kNoInteraction;
    }

    // lead: from the start of the earlier stage to the start of the later one;
    // wrap: from the start of the later one round the cycle to the earlier one.
    const std::int32_t earlier = partner < stage ? partner : stage;
    const std::int32_t later = partner < stage ? stage : partner;
    const double lead = sumOfDurations(earlier, later - 1);
    const double wrap = stageTable.cycleDuration - lead;
    const bool wrapElapsed = currentTime > wrap;  // false for equality and NaN

    if (entry > 0.0) {
        if (partner < stage) {
            return {lead, 0.0, 2.0};
        }
        if (variant == TimingVariant::ignoresTimeForPositiveLinks) {
            return {0.0, 0.0, 1.0};
        }
        return wrapElapsed ? TimingResult{0.0, wrap, 1.0} : TimingResult{0.0, 0.0, -1.0};
    }
    if (partner > stage) {
        return wrapElapsed ? TimingResult{wrap, 0.0, 2.0} : TimingResult{0.0, 0.0, -2.0};
    }
    return {0.0, lead, 1.0};
}

}  // namespace

void timeInteraction(const double *interactionTable, const int *tableSize, const double *stageNumber,
                     const double *currentTime, double *delayForCode2Out, double *delayForCode1Out,
                     double *actionCodeOut, Diagnostic &diagnostic, TimingVariant variant,
                     const CallTail &tail) {
    if (!checkInteractionInputs(interactionTable, tableSize, stageNumber, currentTime, diagnostic, variant)) {
        return;
    }
    if (wantsOutputs(tail.mode)) {
        const TimingResult result = computeTiming(interactionTable, *tableSize, roundToInt(*stageNumber),
                                                  *currentTime, variant);
        *delayForCode2Out = result.delayForCode2;
        *delayForCode1Out = result.delayForCode1;
        *actionCodeOut = result.actionCode;
    }
    finishCall(tail);
}

}  // namespace su55if
