// The chart's input, gathered as a run goes: each series holds only the
// samples at which its value changed, and every schedule the run passed.
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
    std::vector<double TimelineRow::*> extras_;  // the series after the action code
};

}  // namespace su55if::host
