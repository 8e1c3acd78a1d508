#include "interactions/interactions.h"
#include "schedule/stage_table.h"

namespace su55if {

namespace {

// Checks the entries in index order and records the diagnostic of the first
// one that fails. Called only while stageCount is positive.
bool tablePasses(const double *interactionTable, std::int32_t tableSize, Diagnostic &diagnostic) {
    const std::int32_t count = stageTable.stageCount;
    // 64-bit index, so that a table of INT32_MAX entries ends the loop.
    for (std::int64_t index = 1; index <= tableSize; ++index) {
        const auto i = static_cast<std::int32_t>(index);
        const std::int32_t partner = roundMagnitudeToInt(interactionTable[i - 1]);
        if (partner == 0) {
            continue;
        }
        // A NaN or huge entry rounds to kInvalidInteger, which is below 1.
        if (partner < 1 || partner > count) {
            diagnostic.record("Interaction stage %d is invalid.", i);
            return false;
        }
        if (partner == i) {
            diagnostic.record("Interaction stage %d refers to itself.", i);
            return false;
        }
        // The partner must link back (either sign) or have no link; a partner
        // past the end of the table has no entry and so no link. The
        // magnitude of its entry tells both: 0 exactly when it has no link, i
        // exactly when it links back (a NaN or huge entry is neither).
        const std::int32_t back =
            partner <= tableSize ? roundMagnitudeToInt(interactionTable[partner - 1]) : 0;
        if (back != 0 && back != i) {
            diagnostic.record("Interaction stage %d has invalid match.", i);
            return false;
        }
        if (durationOrZero(i) != durationOrZero(partner)) {
            diagnostic.record("Interaction stage %d invalid time match.", i);
            return false;
        }
    }
    return true;
}

}  // namespace

bool checkInteractionInputs(const double *interactionTable, const int *tableSize,
                            const double *stageNumber, const double *currentTime, Diagnostic &diagnostic,
                            TimingVariant variant) {
    const std::int32_t count = stageTable.stageCount;
    const std::int32_t stage = roundToInt(*stageNumber);
    if (count > 0 && stage > count) {
        if (variant == TimingVariant::standard) {
            diagnostic.record("Total number stages %d", count);
        }
        diagnostic.record("Stage number %d is invalid.", stage);
        diagnostic.terminate();
        return false;
    }
    if (*currentTime <= 0.0 && count > 0 && !tablePasses(interactionTable, *tableSize, diagnostic)) {
        diagnostic.terminate();
        return false;
    }
    return true;
}

}  // namespace su55if
