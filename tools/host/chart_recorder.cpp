#include "chart_recorder.h"

#include <fmt/format.h>

namespace su55if::host {

namespace {

void record(ChartSeries &series, double time, double value) {
    if (series.points.empty() || series.points.back().second != value) {
        series.points.emplace_back(time, value);
    }
}

}  // namespace

ChartRecorder::ChartRecorder(const Cycle &cycle, const Simulator &simulator, const RunSettings &settings,
                             const std::string &timeUnit) {
    input_.title = cycle.name;
    input_.subtitle = fmt::format("{} and {} for the stage in force, every {}{}", simulator.timingName(),
                                  simulator.decodingName(), settings.outputInterval,
                                  timeUnit.empty() ? "" : " " + timeUnit);
    input_.timeUnit = timeUnit;
    input_.stageNames = cycle.stageNames;
    input_.partners = cycle.partners;
    input_.stages.name = "stage";
    input_.spans = {{"delayForCode1", {}}, {"delayForCode2", {}}};
    input_.codes = {{"actionCode", {}}};
    // The outputs the inputs drive, but the stage duration: the schedules
    // show it.
    for (const ExtraOutput &extra : simulator.extraOutputs()) {
        if (extra.value != &TimelineRow::stageDuration) {
            input_.codes.push_back({extra.name, {}});
            extras_.push_back(extra.value);
        }
    }
    input_.stopTime = static_cast<double>(settings.lastStep) * settings.outputInterval;
}

void ChartRecorder::write(const TimelineRow &row) {
    record(input_.stages, row.time, row.stage);
    record(input_.spans[0], row.time, row.delayForCode1);
    record(input_.spans[1], row.time, row.delayForCode2);
    record(input_.codes[0], row.time, row.actionCode);
    for (std::size_t k = 0; k < extras_.size(); ++k) {
        record(input_.codes[k + 1], row.time, row.*extras_[k]);
    }
}

void ChartRecorder::scheduleChanged(double time, const std::vector<double> &durations, double cycleDuration) {
    input_.schedules.push_back({time, durations, cycleDuration});
}

}  // namespace su55if::host
