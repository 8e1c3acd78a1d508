#include "schedule/stage_table.h"

#include <cstring>

namespace su55if {

constinit StageTable stageTable{};

double sumOfDurations(std::int32_t first, std::int32_t last) {
    const std::int32_t from = first < 1 ? 1 : first;
    const std::int32_t to = last > kMaxStages ? kMaxStages : last;
    double sum = 0.0;
    for (std::int32_t k = from; k <= to; ++k) {
        sum += stageTable.stageDurations[k - 1];
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
