// The chart's input, gathered as a run goes: each series holds the samples
// at which its value changed within the times charted, of each column of the
// chart only those that it draws, and the schedules that it draws, so that
// the memory it takes is the same however long the run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/chart/chart.h"
#include "engine/cycle.h"
#include "engine/simulation.h"

namespace su55if::engine {

// The times a chart shows, and a line saying so when they are not the whole
// run.
struct ChartWindow {
    double from = 0.0;
    double to = 0.0;
    std::string note;  // empty for the whole run
    // A long run charted over its first cycles: how many, of how many.
    int firstCycles = 0;
    double runCycles = 0.0;
};

// A run longer than this many cycles is charted over its first
// kChartedCycles by default, where its stages can still be told apart.
inline constexpr double kLongRunCycles = 30.0;
inline constexpr int kChartedCycles = 10;

// The window of a run sampled as `settings` say: from `from` (default 0) to
// `to` (default the last sample); with neither given, the whole run, or its
// first kChartedCycles cycles of `cycleDuration` when it passes more than
// kLongRunCycles. Throws Error, naming the options, for a window that
// is empty or reaches outside the run.
ChartWindow chartWindow(std::optional<double> from, std::optional<double> to, const RunSettings &settings,
                        double cycleDuration, const std::string &timeUnit);

// The lanes every chart begins with: the two spans, then the action code
// with what its values mean.
std::vector<ChartLane> firstLanes();

class ChartRecorder : public SampleSink {
public:
    // `from` and `to`: --chart-from and --chart-to, as chartWindow takes them.
    ChartRecorder(const Cycle &cycle, const Simulator &simulator, const RunSettings &settings,
                  const std::string &timeUnit, std::optional<double> from = std::nullopt,
                  std::optional<double> to = std::nullopt);

    void write(const TimelineRow &row) override;
    void scheduleChanged(double time, const std::vector<double> &durations, double cycleDuration) override;
    void linkDrifted(const LinkDrift &drift) override;
    // A run by cycles ends where the durations in force place the end: the
    // chart ends with it, or says where it went on.
    void ended() override;

    const ChartInput &input() const { return input_; }

private:
    ChartRecorder(const Cycle &cycle, const Simulator &simulator, const RunSettings &settings,
                  const std::string &timeUnit, const ChartWindow &window);

    ChartInput input_;
    ChartTimeAxis axis_;                          // as the chart will draw the run
    // What each lane after the first two draws: an output the inputs drive,
    // or (no output) a driving input of the input file.
    struct LaneSource {
        double TimelineRow::*output = nullptr;
        std::size_t input = 0;  // into TimelineRow::inputs
    };
    std::vector<LaneSource> sources_;
    bool byCycles_ = false;  // a run by cycles, charted to its end
    std::uint64_t cycles_ = 0;
    double lastTime_ = 0.0;
};

}  // namespace su55if::engine
