#include "engine/beds_report.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "engine/reports.h"
#include "engine/text.h"

namespace su55if::engine {

std::string bedCountList(const std::vector<int> &counts) {
    std::vector<std::string> parts;
    for (std::size_t i = 0; i < counts.size();) {
        std::size_t j = i;
        while (j + 1 < counts.size() && counts[j + 1] == counts[j] + 1) {
            ++j;
        }
        parts.push_back(j >= i + 2 ? fmt::format("{} to {}", counts[i], counts[j]) : fmt::format("{}", counts[i]));
        if (j == i + 1) {
            parts.push_back(fmt::format("{}", counts[j]));
        }
        i = j + 1;
    }
    if (parts.empty()) {
        return "none";
    }
    std::string text = parts.front();
    for (std::size_t k = 1; k < parts.size(); ++k) {
        text += (k + 1 == parts.size() ? " and " : ", ") + parts[k];
    }
    return text;
}

std::string fittingBedsText(bool links, const std::vector<int> &counts, int stageCount) {
    if (!links) {
        return "the cycle has no links, so any number of beds runs it";
    }
    if (counts.empty()) {
        return fmt::format("the links fit no number of beds from 2 to {}", std::max(stageCount, 2));
    }
    return fmt::format("the links fit {} beds", bedCountList(counts));
}

namespace {

std::string shiftsText(double shifts) { return std::fabs(shifts - 1.0) < 1e-12 ? "1 shift" : fmt::format("{} shifts", readable(shifts)); }

std::string fittingText(const BedsResult &beds) {
    return fittingBedsText(!beds.offsets.empty(), beds.fittingBedCounts, beds.stageCount);
}

// The times at which some bed begins a stage, once each: the rows of the grid.
std::vector<double> slotStarts(const BedGrid &grid) {
    std::vector<double> times;
    for (const auto &row : grid.rows) {
        for (const BedStage &stage : row) {
            times.push_back(stage.from);
        }
    }
    std::sort(times.begin(), times.end());
    const double near = kShiftTolerance * grid.cycleDuration;
    times.erase(std::unique(times.begin(), times.end(), [&](double a, double b) { return b - a <= near; }),
                times.end());
    return times;
}

// The stage `row` runs at `time`: the last that begins at or before it.
int stageAt(const std::vector<BedStage> &row, double time) {
    const auto after = std::upper_bound(row.begin(), row.end(), time,
                                        [](double t, const BedStage &stage) { return t < stage.from; });
    return after == row.begin() ? 0 : std::prev(after)->stage;
}

void printGrid(std::FILE *out, const BedGrid &grid) {
    std::string head = column("from", 10) + column("to", 10);
    for (int bed = 1; bed <= grid.beds; ++bed) {
        head += column(fmt::format("bed {}", bed), 7);
    }
    fmt::print(out, "{}\n", head);
    const std::vector<double> starts = slotStarts(grid);
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const double to = i + 1 < starts.size() ? starts[i + 1] : grid.cycleDuration;
        std::string line = column(readable(starts[i]), 10) + column(readable(to), 10);
        for (const auto &row : grid.rows) {
            line += column(fmt::format("{}", stageAt(row, (starts[i] + to) / 2.0)), 7);
        }
        fmt::print(out, "{}\n", line);
    }
}

}  // namespace

std::vector<std::string> explainMisfit(const Cycle &cycle, const BedGrid &grid, const BedMisfit &misfit,
                                       const std::string &timeUnit) {
    // The offsets that would fit nearest the offset there is, below and above.
    std::vector<double> nearest;
    for (double offset : misfit.fittingOffsets) {
        if (offset < misfit.offset) {
            nearest.assign(1, offset);
        } else {
            nearest.push_back(offset);
            break;
        }
    }
    std::string would = nearest.empty() ? std::string("none")
                                        : withUnit(nearest.front(), timeUnit);
    if (nearest.size() > 1) {
        would += " or " + withUnit(nearest.back(), timeUnit);
    }
    return {fmt::format("{} and its partner {} do not fit {} beds: stage {} began {} before stage {}, {} of {}, "
                        "where {} beds need a whole number of shifts from 1 to {}.",
                        stageLabel(cycle, misfit.stage, "Stage"), stageLabel(cycle, misfit.partner), grid.beds,
                        misfit.partner, withUnit(misfit.offset, timeUnit), misfit.stage, shiftsText(misfit.shifts),
                        readable(grid.shift), grid.beds, grid.beds - 1),
            fmt::format("To fix it: change the durations between them so that stage {} begins {} before stage {}; "
                        "or use a number of beds that every link fits: {}.",
                        misfit.partner, would, misfit.stage,
                        misfit.fittingBedCounts.empty() ? fmt::format("none from 2 to {}", cycle.stageCount())
                                                        : bedCountList(misfit.fittingBedCounts))};
}

Diagnostic misfitDiagnostic(const Cycle &cycle, const BedGrid &grid, const BedMisfit &misfit,
                            const std::string &timeUnit) {
    std::vector<std::string> why = explainMisfit(cycle, grid, misfit, timeUnit);
    Diagnostic d = diagnostic(DiagnosticKind::bedMisfit, std::move(why.front()),
                              fmt::format("in {} beds, a stage's partner begins a whole number of shifts of {} "
                                          "before it, from 1 to {}",
                                          grid.beds, readable(grid.shift), grid.beds - 1));
    d.stage = misfit.stage;
    d.partner = misfit.partner;
    d.values = {{"offset", misfit.offset}, {"shifts", misfit.shifts}};
    d.fix.choices = misfit.fittingOffsets;
    d.fix.text = std::move(why.back());
    return d;
}

void printBedsText(std::FILE *out, const Cycle &cycle, const BedsResult &beds, const std::string &timeUnit) {
    if (!beds.grid) {
        if (!beds.offsets.empty()) {
            fmt::print(out, "Beds: {}.\n", fittingText(beds));
        }
        return;
    }
    const BedGrid &grid = *beds.grid;
    fmt::print(out, "\nBeds: {}, each {} behind the one before (the cycle duration {} over {} beds).\n", grid.beds,
               withUnit(grid.shift, timeUnit), readable(grid.cycleDuration), grid.beds);
    fmt::print(out, "The stage each bed runs over one cycle:\n\n");
    printGrid(out, grid);
    if (grid.links.empty()) {
        fmt::print(out, "\nBeds: {}.\n", fittingText(beds));
        return;
    }
    fmt::print(out, "\nLinks, in shifts of {} (offset: how long before the stage its partner began, as the library "
                    "reports it):\n",
               readable(grid.shift));
    fmt::print(out, "{}{}{}{}\n", column("stage", 7), column("partner", 9), column("offset", 10), column("shifts", 9));
    for (const BedLink &link : grid.links) {
        const std::string meets =
            link.whole ? fmt::format("stage {} of each bed meets stage {} of the bed {} behind", link.link.stage,
                                     link.link.partner, shiftsText(*link.whole))
                       : fmt::format("does not fit {} beds", grid.beds);
        fmt::print(out, "{}{}{}{}  {}\n", column(fmt::format("{}", link.link.stage), 7),
                   column(fmt::format("{}", link.link.partner), 9), column(readable(link.link.offset), 10),
                   column(readable(link.shifts), 9), meets);
    }
    for (const BedMisfit &misfit : grid.misfits) {
        for (const std::string &line : explainMisfit(cycle, grid, misfit, timeUnit)) {
            fmt::print(out, "{}\n", line);
        }
    }
    fmt::print(out, "Beds: {}.\n", fittingText(beds));
}

nlohmann::json bedsJson(const BedsResult &beds) {
    using nlohmann::json;
    json offsets = json::array();
    for (const LinkOffset &link : beds.offsets) {
        offsets.push_back({{"stage", link.stage}, {"partner", link.partner}, {"offset", link.offset}});
    }
    json result{{"linkOffsets", offsets}, {"fittingBedCounts", beds.fittingBedCounts}};
    if (!beds.grid) {
        return result;
    }
    const BedGrid &grid = *beds.grid;
    json rows = json::array();
    for (const auto &row : grid.rows) {
        json stages = json::array();
        for (const BedStage &stage : row) {
            stages.push_back({{"stage", stage.stage}, {"from", stage.from}, {"to", stage.to}});
        }
        rows.push_back(stages);
    }
    json links = json::array();
    for (const BedLink &link : grid.links) {
        json meetings = json::array();
        for (const BedMeeting &meeting : link.meetings) {
            meetings.push_back({{"bed", meeting.bed},
                                {"partnerBed", meeting.partnerBed},
                                {"time", meeting.time},
                                {"duration", meeting.duration}});
        }
        links.push_back({{"stage", link.link.stage},
                         {"partner", link.link.partner},
                         {"offset", link.link.offset},
                         {"shifts", link.shifts},
                         {"fits", link.whole.has_value()},
                         {"wholeShifts", link.whole ? json(*link.whole) : json(nullptr)},
                         {"meetings", meetings}});
    }
    json misfits = json::array();
    for (const BedMisfit &misfit : grid.misfits) {
        misfits.push_back({{"kind", misfit.kKind},
                           {"stage", misfit.stage},
                           {"partner", misfit.partner},
                           {"offset", misfit.offset},
                           {"shifts", misfit.shifts},
                           {"fittingOffsets", misfit.fittingOffsets},
                           {"fittingBedCounts", misfit.fittingBedCounts}});
    }
    result["beds"] = {{"count", grid.beds}, {"cycleDuration", grid.cycleDuration}, {"shift", grid.shift},
                      {"rows", rows},       {"links", links},                      {"misfits", misfits}};
    return result;
}

}  // namespace su55if::engine
