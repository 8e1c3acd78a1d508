// The schedule of the one cycle the library serves: one instance per loaded
// library, zero at load, shared by every caller.
#pragma once

#include <cstdint>
#include <cstring>

namespace su55if {

inline constexpr std::int32_t kMaxStages = 100;

struct StageTable {
    std::int32_t stageCount;  // 0 or less: no stages
    // Stage k in element k - 1. Aligned to the vector registers, so that the
    // loops over all stages read them two at a time without a separate load.
    alignas(16) double requestedDurations[kMaxStages];
    alignas(16) double stageDurations[kMaxStages];
    double cycleDuration;  // sum as of its last recomputation
};

extern StageTable stageTable;

inline bool isSlot(std::int64_t stage) { return stage >= 1 && stage <= kMaxStages; }

// The duration of stage k in force, or 0.0 for a stage number that has no slot.
inline double durationOrZero(std::int64_t stage) {
    return isSlot(stage) ? stageTable.stageDurations[stage - 1] : 0.0;
}

// Sum of the durations of stages first..last; stages without a slot are
// skipped and an empty range gives 0.0. The terms are added in eight running
// sums (the order of the terms is free), so that the loop runs eight reals at
// a time in four vector registers.
double sumOfDurations(std::int32_t first, std::int32_t last);

// Two reals side by side: the width of the vector registers of every x86-64
// processor. The loops over all stages use it explicitly, because GCC does
// not vectorise comparisons of reals for that baseline by itself.
using RealPair = double __attribute__((vector_size(16)));

inline RealPair pairAt(const double *first) {
    RealPair pair;
    std::memcpy(&pair, first, sizeof pair);
    return pair;
}

// True when a[k] != b[k] for some k below count: a NaN on either side
// differs, +0.0 and -0.0 do not. Compares every element.
inline bool anyDiffers(const double *a, const double *b, std::int32_t count) {
    // A comparison of pairs gives -1 in each lane that differs; the lanes
    // count the differences.
    using PairCount = std::int64_t __attribute__((vector_size(16)));
    PairCount differences{};
    std::int32_t k = 0;
    for (; k + 4 <= count; k += 4) {
        differences -= pairAt(a + k) != pairAt(b + k);
        differences -= pairAt(a + k + 2) != pairAt(b + k + 2);
    }
    bool any = (differences[0] | differences[1]) != 0;
    for (; k < count; ++k) {
        any |= a[k] != b[k];
    }
    return any;
}

// Stores a schedule of `count` stages: requested durations and durations in
// force copied bit for bit (nothing copied for count <= 0), and the cycle
// duration as the sum of the durations in force. count must not exceed
// kMaxStages.
void storeSchedule(std::int32_t count, const double *requested, const double *inForce);

// Recomputes cycleDuration from the stages 1..stageCount.
void recomputeCycleDuration();

}  // namespace su55if
