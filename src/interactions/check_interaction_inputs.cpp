#include "interactions/interactions.h"
#include "schedule/stage_table.h"

namespace su55if {

namespace {

// Checks the entries in index order and writes the diagnostic of the first
// one that fails. Called only while stageCount is positive.
bool tablePasses(const double *interactionTable, std::int32_t tableSize) {
    // stageCount never exceeds kMaxStages; saying so lets the compiler drop
    // the slot tests for partners, which lie within 1..count.
    const std::int32_t count = stageTable.stageCount < kMaxStages ? stageTable.stageCount : kMaxStages;
    // Stages whose entry is known to pass: the partner of an earlier entry
    // that passed and whose own entry links back. Each test of that entry
    // repeats one already made: its partner is the earlier stage (within the
    // stages, not itself), whose entry names it, and the durations compared
    // are the same two. So a linked pair is checked once, from its first stage.
    bool settled[kMaxStages + 1] = {};

    const auto entryPasses = [&](std::int32_t i) {
        const std::int32_t partner = roundMagnitudeToInt(interactionTable[i - 1]);
        if (partner == 0) {
            return true;
        }
        // A NaN or huge entry rounds to kInvalidInteger and is out of range too
        // (as an unsigned number it exceeds every count).
        if (static_cast<std::uint32_t>(partner) > static_cast<std::uint32_t>(count)) {
            writeRecord("Interaction stage %d is invalid.", i);
            return false;
        }
        if (partner == i) {
            writeRecord("Interaction stage %d refers to itself.", i);
            return false;
        }
        // The partner must link back (either sign) or have no link; a partner
        // past the end of the table has no entry and so no link. The rule
        // i * p == p * q, with p the partner's entry rounded and q its
        // magnitude rounded, holds exactly when q is 0 or i: p is 0 exactly
        // when q is, and otherwise p is q or -q (a NaN or huge entry gives
        // p = q = kInvalidInteger, which fails both ways).
        const std::int32_t back =
            partner <= tableSize ? roundMagnitudeToInt(interactionTable[partner - 1]) : 0;
        if (back != 0 && back != i) {
            writeRecord("Interaction stage %d has invalid match.", i);
            return false;
        }
        if (durationOrZero(i) != durationOrZero(partner)) {
            writeRecord("Interaction stage %d invalid time match.", i);
            return false;
        }
        if (back == i) {
            settled[partner] = true;
        }
        return true;
    };

    // Entries 1..kMaxStages may have been settled; entries past them (a table
    // longer than the stage limit) are all checked. 64-bit indices, so that a
    // table of INT32_MAX entries ends the loop without overflow.
    const std::int64_t withSlots = tableSize < kMaxStages ? tableSize : kMaxStages;
    for (std::int64_t index = 1; index <= withSlots; ++index) {
        if (!settled[index] && !entryPasses(static_cast<std::int32_t>(index))) {
            return false;
        }
    }
    for (std::int64_t index = withSlots + 1; index <= tableSize; ++index) {
        if (!entryPasses(static_cast<std::int32_t>(index))) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool checkInteractionInputs(const double *interactionTable, const int *tableSize,
                            const double *stageNumber, const double *currentTime, int *status,
                            TimingVariant variant) {
    const std::int32_t count = stageTable.stageCount;
    const std::int32_t stage = roundToInt(*stageNumber);
    if (count > 0 && stage > count) {
        if (variant == TimingVariant::standard) {
            writeRecord("Total number stages %d", count);
        }
        writeRecord("Stage number %d is invalid.", stage);
        terminateSimulation(status);
        return false;
    }
    if (*currentTime <= 0.0 && count > 0 && !tablePasses(interactionTable, *tableSize)) {
        terminateSimulation(status);
        return false;
    }
    return true;
}

}  // namespace su55if
