#include "schedule/stage_table.h"

#include <atomic>
#include <cstring>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <sched.h>
#endif

namespace su55if {

constinit StageTable stageTable{};

namespace {

// Set while a call holds the stage table; clear at load.
constinit std::atomic_flag tableHeld;

// Lets another thread run, the holder of the table perhaps.
void yieldProcessor() {
#if defined(_WIN32)
    SwitchToThread();
#else
    sched_yield();
#endif
}

}  // namespace

TableLock::TableLock() {
    while (tableHeld.test_and_set(std::memory_order_acquire)) {
        // Wait by reading, which leaves the flag's cache line shared, and give
        // the processor away once the holder is taking longer than a call
        // usually takes (it may have been descheduled).
        for (int spins = 0; tableHeld.test(std::memory_order_relaxed); ++spins) {
            if (spins >= 64) {
                yieldProcessor();
            }
        }
    }
}

TableLock::~TableLock() { tableHeld.clear(std::memory_order_release); }

double sumOfDurations(std::int32_t first, std::int32_t last) {
    const std::int64_t from = first < 1 ? 1 : first;
    const std::int64_t to = last > kMaxStages ? kMaxStages : last;
    const double *durations = stageTable.stageDurations;
    // Four running sums, so that each addition need not wait for the one
    // before it; the order of the terms is free.
    double sums[4] = {0.0, 0.0, 0.0, 0.0};
    std::int64_t k = from;
    for (; k + 3 <= to; k += 4) {
        sums[0] += durations[k - 1];
        sums[1] += durations[k];
        sums[2] += durations[k + 1];
        sums[3] += durations[k + 2];
    }
    for (; k <= to; ++k) {
        sums[0] += durations[k - 1];
    }
    return (sums[0] + sums[1]) + (sums[2] + sums[3]);
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
