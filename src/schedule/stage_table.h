// The schedule of the one cycle the library serves: one instance per loaded
// library, zero at load, shared by every caller.
#pragma once

#include <cstdint>

#include "su55if.h"

namespace su55if {

inline constexpr std::int32_t kMaxStages = SU55IF_MAX_STAGES;

struct StageTable {
    std::int32_t stageCount;  // 0 or less: no stages
    // Stage k in element k - 1.
    double requestedDurations[kMaxStages];
    double stageDurations[kMaxStages];
    double cycleDuration;  // sum as of its last recomputation
};

// Read and written only while a TableLock is held.
extern StageTable stageTable;

// Holds the stage table from construction to destruction, so that a call sees
// and leaves one whole schedule while other threads call the library too. A
// small spin lock on compiler atomics: it needs no thread library, and its
// release is the destructor alone, which a cancelled thread's unwinding does
// not run in a library built without exceptions. So nothing that can block or
// stop the thread (output, waiting, any cancellation point) may happen while
// it is held: a diagnostic is gathered in a Diagnostic and printed after the
// release. Not reentrant: a procedure takes it once, in its export. A fork
// waits until no call holds it, and the child gets it free.
class TableLock {
public:
    TableLock();
    ~TableLock();
    TableLock(const TableLock &) = delete;
    TableLock &operator=(const TableLock &) = delete;
};

inline bool isSlot(std::int64_t stage) { return stage >= 1 && stage <= kMaxStages; }

// The duration of stage k in force, or 0.0 for a stage number that has no slot.
inline double durationOrZero(std::int64_t stage) {
    return isSlot(stage) ? stageTable.stageDurations[stage - 1] : 0.0;
}

// Sum of the durations of stages first..last; stages without a slot are
// skipped and an empty range gives 0.0.
double sumOfDurations(std::int32_t first, std::int32_t last);

// Stores a schedule of `count` stages: requested durations and durations in
// force copied bit for bit (nothing copied for count <= 0), and the cycle
// duration as the sum of the durations in force. count must not exceed
// kMaxStages.
void storeSchedule(std::int32_t count, const double *requested, const double *inForce);

// Recomputes cycleDuration from the stages 1..stageCount.
void recomputeCycleDuration();

}  // namespace su55if
