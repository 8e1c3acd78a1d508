// Threads calling the procedures that share the stage table at the same time:
// every call sees, and leaves, one whole schedule. Writers alternate between
// two valid schedules; readers check that every result belongs to one of
// them. Each test runs for a fixed time, not a fixed number of calls.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <span>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>
#endif

#include "harness/library.h"
#include "callkit/procedures.h"

namespace {

using namespace su55if::test;
using su55if::procedures::Frame;

constexpr auto kRunTime = std::chrono::milliseconds(700);
// Calls each thread makes at least, however late it starts on a busy machine.
constexpr long long kMinimumCalls = 10000;

// Stages 1 and 3 are linked and last equally long in both schedules.
const std::vector<double> kSchedules[2] = {{10, 20, 10, 40}, {100, 200, 100, 400}};
const std::vector<double> kInteractions = {3, 0, -1, 0};

// SU55IF_DEFST at the initial point, reporting all four durations and the
// cycle duration. (Each thread lays out its own frames and calls
// without the harness's Call, which captures the process's one standard
// output.)
Frame definitionFrame() {
    return Frame("SU55IF_DEFST", {{"requestedDurations", 4}, {"stageDurations", 4}});
}

// Asks for schedule `which` modulo 2 in both duration vectors.
void request(Frame &frame, long long which) {
    frame.set("requestedDurations", kSchedules[which % 2]);
    frame.set("currentDurations", kSchedules[which % 2]);
}

// Runs each function on its own thread until the run time is over; each gets
// the flag that tells it to stop (once it has made kMinimumCalls calls).
void runTogether(const std::vector<std::function<void(const std::atomic<bool> &)>> &bodies) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (const auto &body : bodies) {
        threads.emplace_back([&body, &stop] { body(stop); });
    }
    std::this_thread::sleep_for(kRunTime);
    stop = true;
    for (std::thread &thread : threads) {
        thread.join();
    }
}

struct Tally {
    std::atomic<long long> calls{0};
    std::atomic<long long> wrong{0};
    std::atomic<long long> fatal{0};
};

TEST(Concurrency, InteractionTimingSeesOneWholeSchedule) {
    Library library;
    su55if_procedure *define = library.procedure("SU55IF_DEFST");
    su55if_procedure *timing = library.procedure("SU55IF_INTTIM");
    Tally tally;

    // delayForCode1 per schedule, and the action code, for (stage, time):
    // stage 1 past the wrap-around reports the span round the cycle from stage
    // 3 back to it, stage 3 the span from stage 1 to it. The table check runs
    // at time 0.
    struct Reading {
        double stage, time, delay[2], action;
    };
    const Reading readings[] = {
        {1, 0, {0, 0}, -1}, {1, 1000, {50, 500}, 1}, {3, 0, {30, 300}, 1}, {3, 1000, {30, 300}, 1}};

    const auto writer = [&](const std::atomic<bool> &stop) {
        Frame frame = definitionFrame();
        for (long long i = 0; !stop || i < kMinimumCalls; ++i) {
            request(frame, i);
            frame.call(define);
        }
    };
    const auto reader = [&](const std::atomic<bool> &stop) {
        Frame frame("SU55IF_INTTIM", {{"interactionTable", 4}});
        frame.set("interactionTable", kInteractions);
        double &stage = frame.input("stageNumber")[0];
        double &time = frame.input("currentTime")[0];
        long long calls = 0;
        long long wrong = 0;
        long long fatal = 0;
        for (; !stop || calls < kMinimumCalls; ++calls) {
            const Reading &r = readings[calls % 4];
            stage = r.stage;
            time = r.time;
            if (frame.call(timing) != 0) {
                ++fatal;
                continue;
            }
            const double delay = frame.value("delayForCode1");
            if (frame.value("delayForCode2") != 0.0 || (delay != r.delay[0] && delay != r.delay[1]) ||
                frame.value("actionCode") != r.action) {
                ++wrong;
            }
        }
        tally.calls += calls;
        tally.wrong += wrong;
        tally.fatal += fatal;
    };
    // One of the two schedules is in force before the readers start.
    Frame first = definitionFrame();
    request(first, 0);
    first.call(define);
    runTogether({writer, reader, reader});

    std::printf("interaction timing: %lld calls, %lld wrong results, %lld spurious status 4\n",
                tally.calls.load(), tally.wrong.load(), tally.fatal.load());
    EXPECT_GT(tally.calls, 0);
    EXPECT_EQ(tally.wrong, 0);
    EXPECT_EQ(tally.fatal, 0);
}

TEST(Concurrency, DefinitionReportsOneWholeSchedule) {
    Library library;
    su55if_procedure *define = library.procedure("SU55IF_DEFST");
    Tally tally;

    const auto writer = [&](const std::atomic<bool> &stop) {
        Frame frame = definitionFrame();
        long long calls = 0;
        long long wrong = 0;
        for (; !stop || calls < kMinimumCalls; ++calls) {
            request(frame, calls);
            const int status = frame.call(define);
            const std::span<const double> reported = frame.output("stageDurations");
            const std::vector<double> durations(reported.begin(), reported.end());
            const double sum = durations[0] + durations[1] + durations[2] + durations[3];
            const bool known = durations == kSchedules[0] || durations == kSchedules[1];
            if (!known || frame.value("cycleDuration") != sum || status != 0) {
                ++wrong;
            }
        }
        tally.calls += calls;
        tally.wrong += wrong;
    };
    runTogether({writer, writer});

    std::printf("stage definition: %lld calls, %lld reports not one schedule\n", tally.calls.load(),
                tally.wrong.load());
    EXPECT_GT(tally.calls, 0);
    EXPECT_EQ(tally.wrong, 0);
}

// Cancellation of a thread in the middle of a write: POSIX threads only.
#if !defined(_WIN32)
// Sets or clears O_NONBLOCK on a descriptor.
void setNonBlocking(int fd, bool on) {
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK);
}

// Reads whatever the pipe holds without waiting.
void drain(int fd) {
    char buffer[4096];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
}

// A thread cancelled while its diagnostic waits to be written (standard output
// a full pipe) must not leave the stage table held: a later call from another
// thread returns.
TEST(Concurrency, CancelledDiagnosticLeavesTheTableFree) {
    // Kept loaded if the later call never returns: its thread is still inside.
    auto library = std::make_unique<Library>();
    su55if_procedure *define = library->procedure("SU55IF_DEFST");
    // 101 stages are refused with a diagnostic.
    Frame refused("SU55IF_DEFST", {{"requestedDurations", SU55IF_MAX_STAGES + 1}, {"stageDurations", 1}});
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    setNonBlocking(ends[0], true);
    setNonBlocking(ends[1], true);
    const char block[4096] = {};
    while (write(ends[1], block, sizeof block) > 0) {
    }
    setNonBlocking(ends[1], false);
    // No assertion until standard output is back: a failure is printed at once.
    std::fflush(stdout);
    const int savedStdout = dup(1);
    dup2(ends[1], 1);

    // The diagnostic's write cannot complete, so a cancellation requested at
    // any time takes effect there at the latest.
    struct Refusal {
        Frame *frame;
        su55if_procedure *define;
    } refusal{&refused, define};
    const auto refuse = [](void *argument) -> void * {
        const auto *r = static_cast<Refusal *>(argument);
        r->frame->call(r->define);
        return nullptr;
    };
    pthread_t writer;
    void *writerResult = nullptr;
    const bool started = pthread_create(&writer, nullptr, refuse, &refusal) == 0;
    if (started) {
        pthread_cancel(writer);
        pthread_join(writer, &writerResult);
    }

    std::packaged_task<void()> later([define] {
        Frame frame = definitionFrame();
        request(frame, 0);
        frame.call(define);
    });
    std::future<void> returned = later.get_future();
    std::thread caller(std::move(later));
    const bool laterReturned = returned.wait_for(std::chrono::seconds(5)) == std::future_status::ready;

    // Standard output back, without the diagnostic left in its buffer.
    drain(ends[0]);
    std::fflush(stdout);
    drain(ends[0]);
    dup2(savedStdout, 1);
    close(savedStdout);
    close(ends[0]);
    close(ends[1]);

    if (laterReturned) {
        caller.join();
    } else {
        caller.detach();
        static_cast<void>(library.release());
    }
    ASSERT_TRUE(started);
    EXPECT_EQ(writerResult, PTHREAD_CANCELED);
    EXPECT_TRUE(laterReturned) << "SU55IF_DEFST still waits for the stage table";
}
#endif

}  // namespace
