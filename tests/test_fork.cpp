// A process forked while another thread calls the library: the child's own
// call returns, and finds one whole schedule. (Windows has no fork.)
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "harness/library.h"
#include "callkit/procedures.h"

namespace {

using namespace su55if::test;
using su55if::procedures::Frame;

const std::vector<double> kSchedules[2] = {{10, 20, 10, 40}, {100, 200, 100, 400}};

// The child's exit code, or -1 when it has not ended within a few seconds (it
// is killed then).
int exitCodeWithin(pid_t child) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Fork, AChildForkedDuringCallsFindsTheTableFreeAndWhole) {
    Library library;
    su55if_procedure *define = library.procedure("SU55IF_DEFST");
    Frame definition("SU55IF_DEFST", {{"requestedDurations", 4}, {"stageDurations", 4}});
    const auto defineSchedule = [&](long long i) {
        definition.set("requestedDurations", kSchedules[i % 2]);
        definition.set("currentDurations", kSchedules[i % 2]);
        definition.call(define);
    };
    defineSchedule(0);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (long long i = 1; !stop; ++i) {
            defineSchedule(i);
        }
    });
    // The child reads the table (a definition at a NaN time changes nothing);
    // its frame is laid out before the fork.
    Frame reading("SU55IF_DEFST", {{"requestedDurations", 0}, {"stageDurations", 4}});
    reading.set("currentTime", NAN);
    int hung = 0;
    int torn = 0;
    for (int fork = 0; fork < 100; ++fork) {
        const pid_t child = ::fork();
        if (child == 0) {
            reading.call(define);
            const std::span<const double> slots = reading.output("stageDurations");
            const std::vector<double> durations(slots.begin(), slots.end());
            const double sum = durations[0] + durations[1] + durations[2] + durations[3];
            const bool whole = (durations == kSchedules[0] || durations == kSchedules[1]) &&
                               reading.value("cycleDuration") == sum;
            _exit(whole ? 0 : 1);
        }
        ASSERT_GT(child, 0);
        const int code = exitCodeWithin(child);
        torn += code > 0 ? 1 : 0;
        if (code == -1) {
            ++hung;
            break;  // one is enough
        }
    }
    stop = true;
    writer.join();
    EXPECT_EQ(hung, 0) << "children that never returned from their call";
    EXPECT_EQ(torn, 0) << "children that found no whole schedule";
}

}  // namespace
#endif
