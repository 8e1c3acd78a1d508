#include "engine/beds.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "engine/block.h"
#include "engine/command_options.h"
#include "engine/csv_reader.h"
#include "engine/error.h"
#include "engine/text.h"

namespace su55if::engine {

std::vector<LinkOffset> linkOffsets(const callkit::Binding &library, const Cycle &cycle, const Schedule &schedule,
                                    bool twin, std::FILE *callLog) {
    const std::vector<LinkedPair> pairs = linkedPairs(cycle);
    std::vector<LinkOffset> offsets;
    if (pairs.empty()) {
        return offsets;
    }
    Block timing(library, twin ? "SU55IF_IINTTIM" : "SU55IF_INTTIM", {{"interactionTable", cycle.stageCount()}},
                 callLog);
    timing.set("interactionTable", cycle.partners);
    // After one whole cycle every partner has begun at least once, so the
    // library reports a later partner's span too (a time of 0 or less would
    // check the table instead). Twice the cycle, or infinity when that
    // overflows: either is after it.
    timing.set("currentTime", 2.0 * schedule.cycleDuration);
    for (const LinkedPair &pair : pairs) {
        timing.set("stageNumber", static_cast<double>(pair.stage));
        double span = std::nan("");
        if (timing.call() != kStatusFatal) {
            const double code = timing.value("actionCode");
            span = code == 2.0   ? timing.value("delayForCode2")
                   : code == 1.0 ? timing.value("delayForCode1")
                                 : std::nan("");
        }
        offsets.push_back({pair.stage, pair.partner, span});
    }
    return offsets;
}

double offsetInShifts(double offset, double cycleDuration, int beds) {
    return offset / (cycleDuration / static_cast<double>(beds));
}

std::optional<int> fittingShifts(double offset, double cycleDuration, int beds) {
    const double shifts = std::round(offsetInShifts(offset, cycleDuration, beds));
    if (!(shifts >= 1.0 && shifts <= static_cast<double>(beds - 1))) {
        return std::nullopt;
    }
    const double whole = shifts * cycleDuration / static_cast<double>(beds);
    if (!(std::fabs(offset - whole) <= kShiftTolerance * cycleDuration)) {
        return std::nullopt;
    }
    return static_cast<int>(shifts);
}

std::vector<int> fittingBedCounts(const std::vector<LinkOffset> &links, double cycleDuration, int stageCount) {
    std::vector<int> counts;
    for (int beds = 2; beds <= std::max(stageCount, 2); ++beds) {
        if (std::all_of(links.begin(), links.end(), [&](const LinkOffset &link) {
                return fittingShifts(link.offset, cycleDuration, beds).has_value();
            })) {
            counts.push_back(beds);
        }
    }
    return counts;
}

namespace {

// `time` brought into one cycle, 0 to T.
double withinCycle(double time, double cycleDuration) {
    const double wrapped = std::fmod(time, cycleDuration);
    return wrapped < 0.0 ? wrapped + cycleDuration : wrapped;
}

// Bed `bed`'s row: each stage where the bed runs it in bed 1's cycle, in
// order of time; a stage across the end of the cycle in two parts.
std::vector<BedStage> bedRow(const Schedule &schedule, double delay) {
    const double cycle = schedule.cycleDuration;
    std::vector<BedStage> row;
    double start = 0.0;
    for (std::size_t k = 0; k < schedule.durations.size(); ++k) {
        const double duration = schedule.durations[k];
        const double end = k + 1 == schedule.durations.size() ? cycle : std::min(start + duration, cycle);
        const auto stage = static_cast<int>(k) + 1;
        if (end > start) {
            const double from = withinCycle(start + delay, cycle);
            const double to = from + (end - start);
            if (to > cycle) {
                row.push_back({stage, from, cycle});
                row.push_back({stage, 0.0, to - cycle});
            } else {
                row.push_back({stage, from, to});
            }
        }
        start = end;
    }
    std::sort(row.begin(), row.end(), [](const BedStage &a, const BedStage &b) { return a.from < b.from; });
    return row;
}

}  // namespace

BedGrid bedGrid(const Schedule &schedule, const std::vector<LinkOffset> &links, int beds, int stageCount) {
    BedGrid grid;
    grid.beds = beds;
    grid.cycleDuration = schedule.cycleDuration;
    grid.shift = schedule.cycleDuration / static_cast<double>(beds);
    grid.fittingBedCounts = fittingBedCounts(links, schedule.cycleDuration, stageCount);
    for (int bed = 0; bed < beds; ++bed) {
        grid.rows.push_back(bedRow(schedule, grid.shift * bed));
    }
    std::vector<double> starts{0.0};
    for (double duration : schedule.durations) {
        starts.push_back(starts.back() + duration);
    }
    for (const LinkOffset &link : links) {
        BedLink bedLink{link, offsetInShifts(link.offset, grid.cycleDuration, beds),
                        fittingShifts(link.offset, grid.cycleDuration, beds), {}};
        if (bedLink.whole) {
            // Bed b begins the stage as bed b + k, k shifts behind, begins the
            // partner: k shifts is how long before the stage the partner began.
            const double start = starts[static_cast<std::size_t>(link.stage - 1)];
            const double duration = schedule.durations[static_cast<std::size_t>(link.stage - 1)];
            for (int bed = 0; bed < beds; ++bed) {
                bedLink.meetings.push_back({bed + 1, (bed + *bedLink.whole) % beds + 1,
                                            withinCycle(start + grid.shift * bed, grid.cycleDuration), duration});
            }
        } else {
            BedMisfit misfit{link.stage, link.partner, link.offset, bedLink.shifts, {}, grid.fittingBedCounts};
            for (int k = 1; k < beds; ++k) {
                misfit.fittingOffsets.push_back(grid.shift * k);
            }
            grid.misfits.push_back(std::move(misfit));
        }
        grid.links.push_back(std::move(bedLink));
    }
    return grid;
}

BedsResult checkBeds(const callkit::Binding &library, const Cycle &cycle, const Schedule &schedule, bool twin,
                     std::optional<int> beds, std::FILE *callLog) {
    BedsResult result;
    result.stageCount = cycle.stageCount();
    result.offsets = linkOffsets(library, cycle, schedule, twin, callLog);
    result.fittingBedCounts = fittingBedCounts(result.offsets, schedule.cycleDuration, result.stageCount);
    if (beds) {
        result.grid = bedGrid(schedule, result.offsets, *beds, result.stageCount);
    }
    return result;
}

int bedCount(std::string_view text) {
    const double value = settingNumber("--beds", text);
    if (!(value >= 2.0 && value <= kMaxBeds && value == std::floor(value))) {
        refuseSetting("--beds", text,
                      fmt::format("--beds {}: give the number of beds, a whole number from 2 to {}", printable(text),
                                  kMaxBeds),
                      fmt::format("the number of beds, a whole number from 2 to {}", kMaxBeds));
    }
    return static_cast<int>(value);
}

}  // namespace su55if::engine
