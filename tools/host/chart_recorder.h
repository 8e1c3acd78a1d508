// The chart's input, gathered as a run goes: each series holds the samples
// at which its value changed, of each column of the chart only those that it
// draws, and the schedules that it draws, so that the memory it takes is the
// same however long the run.
#pragma once

#include <string>
#include <vector>

#include "chart.h"
#include "cycle_file.h"
#include "simulation.h"

namespace su55if::host {

class ChartRecorder : public SampleSink {
public:
    ChartRecorder(const Cycle &cycle, const Simulator &simulator, const RunSettings &settings,
                  const std::string &timeUnit);

    void write(const TimelineRow &row) override;
    void scheduleChanged(double time, const std::vector<double> &durations, double cycleDuration) override;

    const ChartInput &input() const { return input_; }

private:
    ChartInput input_;
    ChartTimeAxis axis_;                          // as the chart will draw the run
    std::vector<double TimelineRow::*> extras_;  // the series after the action code
};

}  // namespace su55if::host
