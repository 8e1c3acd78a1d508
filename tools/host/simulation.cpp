#include "simulation.h"

#include <fmt/format.h>

#include <cmath>
#include <utility>

#include "host_error.h"

namespace su55if::host {

namespace {

constexpr int kFatal = 4;

std::vector<int> repeated(int value, std::size_t count) { return std::vector<int>(count, value); }

}  // namespace

Simulator::Simulator(const Library &library, const Cycle &cycle, bool twin, std::FILE *callLog)
    : cycle_(cycle),
      twin_(twin),
      // SU55IF_DEFST: requested durations, durations in force (both n), hold
      // switch, time, stage number, reference time; out: durations (n),
      // duration of the stage, of the next one, elapsed time, cycle duration.
      defineStages_(library, "SU55IF_DEFST", {cycle.stageCount(), cycle.stageCount(), 1, 1, 1, 1},
                    {cycle.stageCount(), 1, 1, 1, 1}, callLog),
      // Interaction table (n), stage number, time; out: two spans and the code.
      timing_(library, timingName(), {cycle.stageCount(), 1, 1}, repeated(1, 3), callLog),
      // The code; out: one indicator per code.
      decoding_(library, decodingName(), {1}, repeated(1, twin ? 3 : 4), callLog) {
    // The file's durations are both the requested ones and the ones in force,
    // and the hold switch 0 lets the library follow them.
    defineStages_.setInput(1, cycle.durations);
    defineStages_.setInput(2, cycle.durations);
    defineStages_.setInput(3, 0.0);
    timing_.setInput(1, cycle.partners);
}

bool Simulator::callDefineStages(double time) {
    defineStages_.setInput(4, time);
    defineStages_.setInput(5, static_cast<double>(stage_));
    defineStages_.setInput(6, stageStart_);
    return defineStages_.call() != kFatal;
}

bool Simulator::define() {
    stage_ = 1;
    stageStart_ = 0.0;
    if (!callDefineStages(0.0)) {
        return false;
    }
    const std::span<const double> durations = defineStages_.outputVector(1);
    schedule_.durations.assign(durations.begin(), durations.end());
    schedule_.cycleDuration = defineStages_.output(5);
    return true;
}

bool Simulator::callTiming(int stage, double time) {
    timing_.setInput(2, static_cast<double>(stage));
    timing_.setInput(3, time);
    return timing_.call() != kFatal;
}

bool Simulator::checkInteractions() {
    for (int stage = 1; stage <= cycle_.stageCount(); ++stage) {
        if (!callTiming(stage, 0.0)) {
            return false;
        }
    }
    return true;
}

RunSettings Simulator::defaultSettings() const {
    double shortest = 0.0;
    for (double duration : schedule_.durations) {
        if (duration > 0.0 && (shortest == 0.0 || duration < shortest)) {
            shortest = duration;
        }
    }
    return {2.0 * schedule_.cycleDuration, shortest / 20.0};
}

// SU55IF_DEFST reports, for the stage the model believes in force, its
// duration (output 2) and the time elapsed since the stage began (output 4,
// measured from the reference time). While the elapsed time reaches the
// duration, the next stage has begun.
bool Simulator::advanceToStageInForce(double time) {
    const int stageCount = cycle_.stageCount();
    for (int attempt = 0; attempt < 4 * stageCount + 8; ++attempt) {
        if (!callDefineStages(time)) {
            return false;
        }
        const double elapsed = defineStages_.output(4);
        const double duration = defineStages_.output(2);
        const double cycleDuration = defineStages_.output(5);
        if (elapsed < duration) {
            return true;
        }
        if (elapsed >= cycleDuration) {
            // A step longer than the cycle: whole cycles bring the same stage back.
            stageStart_ += std::floor(elapsed / cycleDuration) * cycleDuration;
            continue;
        }
        stageStart_ += duration;
        stage_ = stage_ % stageCount + 1;
    }
    throw HostError(fmt::format("cannot find the stage in force at time {}: the stage durations that the library "
                                "reports do not add up to its cycle duration",
                                time));
}

bool Simulator::run(const RunSettings &settings, std::vector<TimelineRow> &rows) {
    if (!(schedule_.cycleDuration > 0.0) || !std::isfinite(schedule_.cycleDuration)) {
        throw HostError(fmt::format("{}: cannot run a cycle whose duration is {}", cycle_.name,
                                    schedule_.cycleDuration));
    }
    const double interval = settings.outputInterval;
    if (!(interval > 0.0) || !std::isfinite(interval) || !(settings.stopTime > 0.0) ||
        !std::isfinite(settings.stopTime)) {
        throw HostError("the stop time and the output interval must be finite and greater than 0");
    }
    // The small allowance keeps a stop time that is a multiple of the interval
    // in the run despite rounding in the division.
    const double steps = std::floor(settings.stopTime / interval + 1e-9);
    if (steps > kMaxTimeSteps) {
        throw HostError(fmt::format("{:.0f} time steps are too many (at most {:.0f}): raise --output-interval or "
                                    "lower --stop-time",
                                    steps + 1, kMaxTimeSteps));
    }

    stage_ = 1;
    stageStart_ = 0.0;
    rows.clear();
    rows.reserve(static_cast<std::size_t>(steps) + 1);
    for (long step = 0; step <= static_cast<long>(steps); ++step) {
        const double time = static_cast<double>(step) * interval;
        if (!advanceToStageInForce(time) || !callTiming(stage_, time)) {
            return false;
        }
        TimelineRow row;
        row.time = time;
        row.stage = stage_;
        row.elapsed = defineStages_.output(4);
        row.delayForCode2 = timing_.output(1);
        row.delayForCode1 = timing_.output(2);
        row.actionCode = timing_.output(3);
        decoding_.setInput(1, row.actionCode);
        if (decoding_.call() == kFatal) {
            return false;
        }
        for (int k = 1; k <= (twin_ ? 3 : 4); ++k) {
            row.flags.push_back(decoding_.output(k));
        }
        rows.push_back(std::move(row));
    }
    return true;
}

}  // namespace su55if::host
