#include "engine/chart/chart_recorder.h"

#include <fmt/format.h>

#include <cmath>

#include "engine/command_options.h"
#include "engine/text.h"
#include "engine/timeline_columns.h"

namespace su55if::engine {

namespace {

// A count as a person reads it: 250,000.
std::string grouped(double count) {
    std::string digits = fmt::format("{:.0f}", count);
    for (std::size_t i = digits.size(); i > 3; i -= 3) {
        digits.insert(i - 3, ",");
    }
    return digits;
}

}  // namespace

ChartWindow chartWindow(std::optional<double> from, std::optional<double> to, const RunSettings &settings,
                        double cycleDuration, const std::string &timeUnit) {
    const double lastSample = static_cast<double>(settings.lastStep) * settings.outputInterval;
    for (const auto &[name, time] : {std::pair{"--chart-from", from}, std::pair{"--chart-to", to}}) {
        if (time && !(*time >= 0.0 && *time <= settings.stopTime)) {
            refuseSetting(name, fmt::format("{}", *time),
                          fmt::format("{} {} lies outside the run, which goes from 0 to {}", name, *time,
                                      settings.stopTime),
                          fmt::format("a time within the run, from 0 to {}", settings.stopTime));
        }
    }
    if (from || to) {
        ChartWindow window{from.value_or(0.0), to.value_or(lastSample), {}};
        if (from && to && !(window.from < window.to)) {
            refuseSetting("--chart-from", fmt::format("{}", *from),
                          fmt::format("--chart-from {} must be before --chart-to {}", *from, *to),
                          fmt::format("a time before the chart's end, {}", *to));
        }
        if (!(window.from < window.to)) {
            if (from) {
                refuseSetting("--chart-from", fmt::format("{}", *from),
                              fmt::format("--chart-from {} must be before the run's last sample, at {}", *from,
                                          lastSample),
                              fmt::format("a time before the run's last sample, at {}", lastSample));
            }
            refuseSetting("--chart-to", fmt::format("{}", *to),
                          fmt::format("--chart-to {} must be after the run's start, 0", *to),
                          "a time after the run's start, 0");
        }
        // To a hundredth of the window, so that its ends differ however far from 0.
        const double resolution = (window.to - window.from) / 100.0;
        window.note = fmt::format("Charted from time {} to {}{} of a run to {}.", readableTo(window.from, resolution),
                                  readableTo(window.to, resolution), timeUnit.empty() ? "" : " " + timeUnit,
                                  withUnit(settings.stopTime, timeUnit));
        return window;
    }
    const double cycles = std::floor(settings.stopTime / cycleDuration);
    if (!(cycles > kLongRunCycles)) {
        return {0.0, lastSample, {}};
    }
    const double end = kChartedCycles * cycleDuration;
    return {0.0, end,
            fmt::format("Charted: the first {} of the run's {} cycles, to time {}; --chart-from and --chart-to "
                        "chart another part.",
                        kChartedCycles, grouped(cycles), withUnit(end, timeUnit)),
            kChartedCycles, cycles};
}

std::vector<ChartLane> firstLanes() {
    ChartLane codes{{{"actionCode", {}}}, false, {}};
    for (const auto &[values, meaning] : kActionCodeMeanings) {
        codes.key.emplace_back(values, meaning);
    }
    return {{{{"delayForCode1", {}}, {"delayForCode2", {}}}, true, {}}, codes};
}

ChartRecorder::ChartRecorder(const Cycle &cycle, const Simulator &simulator, const RunSettings &settings,
                             const std::string &timeUnit, std::optional<double> from, std::optional<double> to)
    : ChartRecorder(cycle, simulator, settings, timeUnit,
                    chartWindow(from, to, settings, simulator.schedule().cycleDuration, timeUnit)) {
    const ChartWindow whole = chartWindow(std::nullopt, std::nullopt, settings, simulator.schedule().cycleDuration,
                                          timeUnit);
    byCycles_ = settings.cycles != 0 && !to && whole.note.empty();
    cycles_ = settings.cycles;
}

ChartRecorder::ChartRecorder(const Cycle &cycle, const Simulator &simulator, const RunSettings &settings,
                             const std::string &timeUnit, const ChartWindow &window)
    : axis_(window.from, window.to, chartPlotWidth(cycle.durations.size())) {
    input_.title = cycle.name;
    input_.notes = {fmt::format("How each stage in turn is timed against its partner stage, sampled every {} ({} "
                                "and {})",
                                withUnit(settings.outputInterval, timeUnit), simulator.timingName(),
                                simulator.decodingName())};
    if (!window.note.empty()) {
        input_.notes.push_back(window.note);
    }
    input_.timeUnit = timeUnit;
    input_.stageNames = cycle.stageNames;
    input_.partners = cycle.partners;
    input_.schedules = ChartSchedules(window.from, window.to);
    input_.stages.name = "stage";
    input_.lanes = firstLanes();
    // The inputs that drive the procedures, then the outputs they drive but
    // the stage duration (the schedules show it): causes above effects.
    for (std::size_t input : simulator.drivingInputs()) {
        input_.lanes.push_back({{{fmt::format("{} (input)", kDrivingInputs[input]), {}}}, false, {}});
        sources_.push_back({nullptr, input});
    }
    for (const ExtraOutput &extra : simulator.extraOutputs()) {
        if (extra.value != &TimelineRow::stageDuration) {
            input_.lanes.push_back({{{extra.name, {}}}, false, {}});
            sources_.push_back({extra.value, 0});
        }
    }
    input_.startTime = window.from;
    input_.stopTime = window.to;
}

void ChartRecorder::ended() {
    if (!byCycles_) {
        return;
    }
    if (lastTime_ < input_.stopTime && lastTime_ > input_.startTime) {
        input_.stopTime = lastTime_;
    } else if (lastTime_ > input_.stopTime) {
        input_.notes.push_back(fmt::format("Charted to time {}, where the durations the run began with end cycle {}; "
                                           "the run went on to {}: --chart-to charts further.",
                                           readable(input_.stopTime), cycles_, readable(lastTime_)));
    }
}

void ChartRecorder::write(const TimelineRow &row) {
    lastTime_ = row.time;
    addSample(input_.stages, axis_, row.time, row.stage);
    addSample(input_.lanes[0].series[0], axis_, row.time, row.delayForCode1);
    addSample(input_.lanes[0].series[1], axis_, row.time, row.delayForCode2);
    addSample(input_.lanes[1].series[0], axis_, row.time, row.actionCode);
    for (std::size_t k = 0; k < sources_.size(); ++k) {
        const LaneSource &source = sources_[k];
        addSample(input_.lanes[k + 2].series[0], axis_, row.time,
                  source.output != nullptr ? row.*source.output : row.inputs[source.input]);
    }
}

void ChartRecorder::linkDrifted(const LinkDrift &drift) {
    if (input_.drifts.size() < kMaxMarks && drift.time >= input_.startTime && drift.time <= input_.stopTime) {
        input_.drifts.push_back({drift.time, drift.stage, drift.partner});
    }
}

void ChartRecorder::scheduleChanged(double time, const std::vector<double> &durations, double cycleDuration) {
    input_.schedules.add({time, durations, cycleDuration});
}

}  // namespace su55if::engine
