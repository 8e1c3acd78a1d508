#include "chart_recorder.h"

#include <fmt/format.h>

namespace su55if::host {

ChartRecorder::ChartRecorder(const Cycle &cycle, const Simulator &simulator, const RunSettings &settings,
                             const std::string &timeUnit)
    : axis_(static_cast<double>(settings.lastStep) * settings.outputInterval,
            chartPlotWidth(cycle.durations.size())) {
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
    addSample(input_.stages, axis_, row.time, row.stage);
    addSample(input_.spans[0], axis_, row.time, row.delayForCode1);
    addSample(input_.spans[1], axis_, row.time, row.delayForCode2);
    addSample(input_.codes[0], axis_, row.time, row.actionCode);
    for (std::size_t k = 0; k < extras_.size(); ++k) {
        addSample(input_.codes[k + 1], axis_, row.time, row.*extras_[k]);
    }
}

void ChartRecorder::scheduleChanged(double time, const std::vector<double> &durations, double cycleDuration) {
    input_.schedules.add({time, durations, cycleDuration});
}

}  // namespace su55if::host
