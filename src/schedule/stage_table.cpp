#include "schedule/stage_table.h"

#include <cstring>

namespace su55if {

constinit StageTable stageTable{};

double sumOfDurations(std::int32_t first, std::int32_t last) {
    const std::int32_t from = first < 1 ? 1 : first;
    const std::int32_t to = last > kMaxStages ? kMaxStages : last;
    const double *durations = stageTable.stageDurations;
    RealPair sum0{};
    RealPair sum1{};
    RealPair sum2{};
    RealPair sum3{};
    std::int32_t k = from;
    for (; k + 7 <= to; k += 8) {
        sum0 += pairAt(&durations[k - 1]);
        sum1 += pairAt(&durations[k + 1]);
        sum2 += pairAt(&durations[k + 3]);
        sum3 += pairAt(&durations[k + 5]);
    }
    for (; k + 1 <= to; k += 2) {
        sum0 += pairAt(&durations[k - 1]);
    }
    const RealPair both = (sum0 + sum1) + (sum2 + sum3);
    double sum = both[0] + both[1];
    if (k <= to) {
        sum += durations[k - 1];
    }
    return sum;
}

void storeSchedule(std::int32_t count, const double *requested, const double *inForce) {
    stageTable.stageCount = count;
    if (count >= 1) {
        const auto bytes = static_cast<std::size_t>(count) * sizeof(double);
        std::memcpy(stageTable.requestedDurations, requested, bytes);
        std::memcpy(stageTable.stageDurations, inForce, bytes);
    }
    recomputeCycleDuration();
}

void recomputeCycleDuration() { stageTable.cycleDuration = sumOfDurations(1, stageTable.stageCount); }

}  // namespace su55if
