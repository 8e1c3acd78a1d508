// The beds of each schedule of a run, for its chart: as the durations in
// force change, the grid of N beds for the new schedule, its links' offsets
// taken from the library while it holds that schedule. The first schedules
// and the last, as the chart draws their bars.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "callkit/binding.h"
#include "engine/chart/chart.h"
#include "engine/cycle.h"
#include "engine/simulation.h"

namespace su55if::engine {

class BedsRecorder : public SampleSink {
public:
    BedsRecorder(const callkit::Binding &library, const Cycle &cycle, bool twin, int beds, std::string timeUnit,
                 std::FILE *callLog);

    void write(const TimelineRow & /*row*/) override {}
    void scheduleChanged(double time, const std::vector<double> &durations, double cycleDuration) override;

    // After the run, while the library still holds the last schedule: the
    // grids of the first schedules and of the last, each under its heading.
    std::vector<ChartBeds> grids();

private:
    struct Kept {
        std::size_t number = 0;
        double from = 0.0;
        Schedule schedule;
    };

    const callkit::Binding &library_;
    const Cycle &cycle_;
    bool twin_;
    int beds_;
    std::string timeUnit_;
    std::FILE *callLog_;
    std::vector<ChartBeds> first_;
    std::vector<double> firstFrom_;  // where each of them begins
    std::optional<Kept> last_;  // a schedule after the first ones, its grid not made yet
    std::size_t count_ = 0;

    ChartBeds grid(const Kept &kept) const;
};

}  // namespace su55if::engine
