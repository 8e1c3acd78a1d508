#include "engine/chart/beds_recorder.h"

#include <fmt/format.h>

#include <utility>

#include "engine/beds.h"
#include "engine/chart/chart_beds.h"
#include "engine/chart/chart_draw.h"
#include "engine/text.h"

namespace su55if::engine {

BedsRecorder::BedsRecorder(const callkit::Binding &library, const Cycle &cycle, bool twin, int beds,
                           std::string timeUnit, std::FILE *callLog)
    : library_(library), cycle_(cycle), twin_(twin), beds_(beds), timeUnit_(std::move(timeUnit)), callLog_(callLog) {}

ChartBeds BedsRecorder::grid(const Kept &kept) const {
    const std::vector<LinkOffset> offsets = linkOffsets(library_, cycle_, kept.schedule, twin_, callLog_);
    const BedGrid grid = bedGrid(kept.schedule, offsets, beds_, cycle_.stageCount());
    ChartBeds beds = chartBeds(cycle_, grid, timeUnit_);
    beds.heading = fmt::format("{} beds, each {} behind the one before (cycle duration {})", beds_,
                               withUnit(grid.shift, timeUnit_), readable(grid.cycleDuration));
    return beds;
}

void BedsRecorder::scheduleChanged(double time, const std::vector<double> &durations, double cycleDuration) {
    ++count_;
    Kept kept{count_, time, {durations, cycleDuration}};
    // The library holds this schedule now: the first ones' grids are made at
    // once, the last one's after the run, from the schedule the run ended with.
    if (count_ < chart::kMaxBars) {
        first_.push_back(grid(kept));
        firstFrom_.push_back(time);
    } else {
        last_ = std::move(kept);
    }
}

std::vector<ChartBeds> BedsRecorder::grids() {
    std::vector<ChartBeds> grids = first_;
    std::vector<double> from = firstFrom_;
    if (last_) {
        grids.push_back(grid(*last_));
        from.push_back(last_->from);
    }
    // Numbered as the chart numbers the schedules, when there are several.
    for (std::size_t k = 0; k < grids.size() && count_ > 1; ++k) {
        const std::size_t number = k + 1 < grids.size() || !last_ ? k + 1 : last_->number;
        grids[k].heading = fmt::format("Schedule {} from time {}: {}", number, withUnit(from[k], timeUnit_),
                                       grids[k].heading);
    }
    return grids;
}

}  // namespace su55if::engine
