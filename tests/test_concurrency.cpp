// Threads calling the procedures that share the stage table at the same time:
// every call sees, and leaves, one whole schedule. Writers alternate between
// two valid schedules; readers check that every result belongs to one of
// them. Each test runs for a fixed time, not a fixed number of calls.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include "harness/host.h"

namespace {

using namespace su55if_test;

constexpr auto kRunTime = std::chrono::milliseconds(700);

// Stages 1 and 3 are linked and last equally long in both schedules.
const std::vector<double> kSchedules[2] = {{10, 20, 10, 40}, {100, 200, 100, 400}};
const std::vector<double> kInteractions = {3, 0, -1, 0};

// One procedure's arguments laid out one after the other, for the calls of
// one thread (the harness's Call captures standard output, which is one per
// process, so it serves one thread only).
class Frame {
public:
    Frame(const std::vector<std::vector<double>> &inputArguments, const std::vector<std::size_t> &outputCounts) {
        for (const std::vector<double> &argument : inputArguments) {
            inputOffsets_.push_back(static_cast<int>(inputs_.size()) + 1);
            inputSizes_.push_back(static_cast<int>(argument.size()));
            inputs_.insert(inputs_.end(), argument.begin(), argument.end());
        }
        for (std::size_t count : outputCounts) {
            outputOffsets_.push_back(static_cast<int>(outputs_.size()) + 1);
            outputSizes_.push_back(static_cast<int>(count));
            outputs_.insert(outputs_.end(), count, 0.0);
        }
    }
    double &in(std::size_t k, std::size_t element = 1) { return inputs_[index(inputOffsets_, k, element)]; }
    double out(std::size_t k, std::size_t element = 1) const { return outputs_[index(outputOffsets_, k, element)]; }

    // Call mode 0; returns the status, which starts at 0.
    int call(su55if_procedure *procedure) {
        const int none = 0;
        const double mode = 0.0;
        int status = 0;
        procedure(inputs_.data(), inputSizes_.data(), outputs_.data(), outputSizes_.data(), inputOffsets_.data(),
                  outputOffsets_.data(), &status, nullptr, nullptr, &none, nullptr, &none, &none, &mode);
        return status;
    }

private:
    static std::size_t index(const std::vector<int> &offsets, std::size_t k, std::size_t element) {
        return static_cast<std::size_t>(offsets.at(k - 1) - 1) + element - 1;
    }
    std::vector<double> inputs_;
    std::vector<int> inputSizes_;
    std::vector<int> inputOffsets_;
    std::vector<double> outputs_;
    std::vector<int> outputSizes_;
    std::vector<int> outputOffsets_;
};

// SU55IF_DEFST at the initial point: stage 1, all four durations and the
// cycle duration reported.
Frame definitionFrame() { return Frame({kSchedules[0], kSchedules[0], {0}, {0}, {1}, {0}}, {4, 1, 1, 1, 1}); }

// Asks for schedule `which` in both duration vectors.
void request(Frame &frame, long long which) {
    for (std::size_t k = 1; k <= 4; ++k) {
        frame.in(1, k) = frame.in(2, k) = kSchedules[which % 2][k - 1];
    }
}

// Runs each function on its own thread until the run time is over; each gets
// the flag that tells it to stop.
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
        for (long long i = 0; !stop; ++i) {
            request(frame, i);
            frame.call(define);
        }
    };
    const auto reader = [&](const std::atomic<bool> &stop) {
        Frame frame({kInteractions, {1}, {0}}, {1, 1, 1});
        long long calls = 0;
        long long wrong = 0;
        long long fatal = 0;
        for (; !stop; ++calls) {
            const Reading &r = readings[calls % 4];
            frame.in(2) = r.stage;
            frame.in(3) = r.time;
            if (frame.call(timing) != 0) {
                ++fatal;
                continue;
            }
            const double delay = frame.out(2);
            if (frame.out(1) != 0.0 || (delay != r.delay[0] && delay != r.delay[1]) || frame.out(3) != r.action) {
                ++wrong;
            }
        }
        tally.calls += calls;
        tally.wrong += wrong;
        tally.fatal += fatal;
    };
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
        for (; !stop; ++calls) {
            request(frame, calls);
            const int status = frame.call(define);
            double sum = 0.0;
            bool known = false;
            for (const std::vector<double> &schedule : kSchedules) {
                bool same = true;
                for (std::size_t k = 0; k < 4; ++k) {
                    same = same && frame.out(1, k + 1) == schedule[k];
                }
                known = known || same;
            }
            for (std::size_t k = 1; k <= 4; ++k) {
                sum += frame.out(1, k);
            }
            if (!known || frame.out(5) != sum || status != 0) {
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

}  // namespace
