#include "schedule/stage_table.h"

#include <atomic>
#include <cstring>

#include "platform/platform.h"

namespace su55if {

constinit StageTable stageTable{};

namespace {

// Set while a call holds the stage table; clear at load.
constinit std::atomic_flag tableHeld;

// Waits until the table is released, then takes it.
[[gnu::noinline]] void waitForTable() {
    do {
        // Wait by reading, which leaves the flag's cache line shared, and give
        // the processor away once the holder is taking longer than a call
        // usually takes (it may have been descheduled).
        for (int spins = 0; tableHeld.test(std::memory_order_relaxed); ++spins) {
            if (spins >= 64) {
                platform::yieldProcessor();
            }
        }
    } while (tableHeld.test_and_set(std::memory_order_acquire));
}

void takeTable() {
    if (tableHeld.test_and_set(std::memory_order_acquire)) [[unlikely]] {
        waitForTable();
    }
}

void releaseTable() { tableHeld.clear(std::memory_order_release); }

// A child process gets a copy of the table and of its flag as they are at
// the fork: taken by another thread, the flag would never clear in the
// child, and the table might be half written. So the thread that forks takes
// the table first and both processes release it after. The handlers are
// registered by the first call (the library runs no code at load), and no
// call takes the table before they are: a fork before that finds it free.
enum : int { kUnguarded, kGuarding, kGuarded };
constinit std::atomic<int> forkGuard{kUnguarded};

[[gnu::noinline]] void guardForks() {
    int state = kUnguarded;
    if (forkGuard.compare_exchange_strong(state, kGuarding, std::memory_order_acquire)) {
        platform::aroundFork(takeTable, releaseTable);
        forkGuard.store(kGuarded, std::memory_order_release);
        return;
    }
    while (forkGuard.load(std::memory_order_acquire) != kGuarded) {
        platform::yieldProcessor();
    }
}

}  // namespace

TableLock::TableLock() {
    if (forkGuard.load(std::memory_order_acquire) != kGuarded) [[unlikely]] {
        guardForks();
    }
    takeTable();
}

TableLock::~TableLock() { releaseTable(); }

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
