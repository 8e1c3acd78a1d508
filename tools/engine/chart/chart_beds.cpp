#include "engine/chart/chart_beds.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "engine/beds_report.h"
#include "engine/chart/chart.h"
#include "engine/chart/chart_draw.h"
#include "engine/text.h"

namespace su55if::engine {

using namespace chart;

namespace {

constexpr double kRowHeight = 44.0;
constexpr double kRowGap = 16.0;
constexpr double kPlotWidth = 1100.0;
constexpr const char *kMisfitColour = "#b00020";

// `text` in lines that fit `width` at `size`, broken between words.
std::vector<std::string> wrapped(const std::string &text, double size, double width) {
    std::vector<std::string> lines;
    std::string line;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t space = text.find(' ', at);
        const std::string word = text.substr(at, space == std::string::npos ? std::string::npos : space - at);
        at = space == std::string::npos ? text.size() : space + 1;
        const std::string longer = line.empty() ? word : line + " " + word;
        if (!line.empty() && textWidth(longer, size, false) > width) {
            lines.push_back(line);
            line = word;
        } else {
            line = longer;
        }
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

struct Rows {
    double top;
    double scale;  // pixels per unit of time
    double x(double time) const { return kLeft + time * scale; }
    double y(int bed) const { return top + (kRowHeight + kRowGap) * (bed - 1); }
};

// The name of stage `stage` (from 1), printable; empty when it has none.
std::string nameOf(const std::vector<std::string> &names, int stage) {
    const auto k = static_cast<std::size_t>(stage - 1);
    return k < names.size() ? printable(names[k]) : std::string();
}

void drawRows(Builder &out, const std::vector<std::string> &names, const BedGrid &grid, const Rows &rows) {
    for (int bed = 1; bed <= grid.beds; ++bed) {
        const double top = rows.y(bed);
        out.place(Builder::text(fmt::format("bed {}", bed), kLeft - 10.0, top + kRowHeight / 2.0 + 5.0, Anchor::end,
                                13.0, true));
        for (const BedStage &stage : grid.rows[static_cast<std::size_t>(bed - 1)]) {
            const double left = rows.x(stage.from);
            const double width = rows.x(stage.to) - left;
            const std::string name = nameOf(names, stage.stage);
            out.shape(R"svg(<rect x="{:.2f}" y="{:.2f}" width="{:.2f}" height="{}" fill="{}" stroke="#555" )svg"
                      R"svg(stroke-width="0.6"><title>{}</title></rect>)svg",
                      left, top, width, kRowHeight, stageColour(stage.stage),
                      xmlEscaped(fmt::format("bed {}, stage {}{}: {} to {}", bed, stage.stage,
                                             name.empty() ? "" : " " + name, readable(stage.from),
                                             readable(stage.to))));
            const double centre = left + width / 2.0;
            // Outlined: a line joining two other beds may pass behind them.
            ChartText number =
                Builder::text(fmt::format("{}", stage.stage), centre, top + 17.0, Anchor::middle, 12.0, true);
            number.halo = true;
            if (number.box.right - number.box.left <= width - 4.0) {
                out.tryPlace(number);
            }
            ChartText label = Builder::text(name, centre, top + 34.0, Anchor::middle, 10.0);
            label.halo = true;
            if (!name.empty() && label.box.right - label.box.left <= width - 4.0) {
                out.tryPlace(label);
            }
        }
    }
}

// Each linked pair where it meets: a line from the stage's box in one bed to
// the partner's in the other, near where both begin.
void drawMeetings(Builder &out, const BedGrid &grid, const Rows &rows) {
    for (const BedLink &link : grid.links) {
        for (const BedMeeting &meeting : link.meetings) {
            const double x = rows.x(meeting.time) + std::min(6.0, meeting.duration * rows.scale / 4.0);
            const double y1 = rows.y(meeting.bed) + kRowHeight - 6.0;
            const double y2 = rows.y(meeting.partnerBed) + kRowHeight - 6.0;
            out.shape(R"svg(<g stroke="#222" fill="#222"><title>bed {} stage {} and bed {} stage {} begin together at )svg"
                      R"svg({}</title><line x1="{:.2f}" y1="{:.2f}" x2="{:.2f}" y2="{:.2f}" stroke-width="1.6"/>)svg"
                      R"svg(<circle cx="{:.2f}" cy="{:.2f}" r="3"/><circle cx="{:.2f}" cy="{:.2f}" r="3"/></g>)svg",
                      meeting.bed, link.link.stage, meeting.partnerBed, link.link.partner, readable(meeting.time), x,
                      y1, x, y2, x, y1, x, y2);
        }
    }
}

// A link that does not fit: its stage marked in every bed with a cross.
void drawMisfits(Builder &out, const BedGrid &grid, const Rows &rows) {
    for (const BedMisfit &misfit : grid.misfits) {
        for (int bed = 1; bed <= grid.beds; ++bed) {
            for (const BedStage &stage : grid.rows[static_cast<std::size_t>(bed - 1)]) {
                if (stage.stage != misfit.stage && stage.stage != misfit.partner) {
                    continue;
                }
                const double left = rows.x(stage.from);
                out.shape(R"svg(<rect x="{:.2f}" y="{:.2f}" width="{:.2f}" height="{}" fill="none" stroke="{}" )svg"
                          R"svg(stroke-width="2.5" stroke-dasharray="5,3"><title>stages {} and {} do not fit {} )svg"
                          R"svg(beds</title></rect>)svg",
                          left + 1.5, rows.y(bed) + 1.5, rows.x(stage.to) - left - 3.0, kRowHeight - 3.0,
                          kMisfitColour, misfit.stage, misfit.partner, grid.beds);
            }
        }
    }
}

// The time axis under the rows, with the shifts marked across them.
double drawAxis(Builder &out, const BedGrid &grid, const Rows &rows, const std::string &timeUnit) {
    const double bottom = rows.y(grid.beds) + kRowHeight;
    for (int k = 1; k < grid.beds; ++k) {
        const double x = rows.x(grid.shift * k);
        out.shape(R"svg(<line x1="{0:.2f}" y1="{1:.2f}" x2="{0:.2f}" y2="{2:.2f}" stroke="#666" )svg"
                  R"svg(stroke-dasharray="2,3"/>)svg",
                  x, rows.top - 6.0, bottom + 4.0);
    }
    out.shape(R"svg(<line x1="{:.2f}" y1="{:.2f}" x2="{:.2f}" y2="{:.2f}" stroke="#333"/>)svg", kLeft, bottom + 4.0,
              rows.x(grid.cycleDuration), bottom + 4.0);
    // Ticks at multiples of the step, counted: a cycle too short for a step
    // to be told from 0 gets none.
    const double step = niceStep(grid.cycleDuration, 12.0);
    const bool usable = step > 0.0 && std::isfinite(step);
    for (int i = 0; usable && i <= kMaxTicks && i * step <= grid.cycleDuration * (1.0 + 1e-9); ++i) {
        const double t = i * step;
        const double x = rows.x(std::min(t, grid.cycleDuration));
        out.shape(R"svg(<line x1="{0:.2f}" y1="{1:.2f}" x2="{0:.2f}" y2="{2:.2f}" stroke="#333"/>)svg", x,
                  bottom + 4.0, bottom + 9.0);
        out.tryPlace(Builder::text(readableTo(t, step), x, bottom + 22.0, Anchor::middle, 11.0));
    }
    out.place(Builder::text(timeUnit.empty() ? "time" : fmt::format("time ({})", printable(timeUnit)),
                            kLeft - 10.0, bottom + 22.0, Anchor::end, 11.0));
    return bottom + 30.0;
}

// Every stage with its colour, name and duration, in columns.
double drawLegend(Builder &out, const std::vector<std::string> &names, const BedGrid &grid, double top,
                  double plotWidth) {
    int stageCount = 0;
    for (const BedStage &stage : grid.rows.front()) {
        stageCount = std::max(stageCount, stage.stage);
    }
    std::vector<double> durations(static_cast<std::size_t>(stageCount), 0.0);
    for (const BedStage &stage : grid.rows.front()) {
        durations[static_cast<std::size_t>(stage.stage - 1)] += stage.to - stage.from;
    }
    std::vector<std::string> entries;
    double widest = 0.0;
    for (std::size_t k = 0; k < durations.size(); ++k) {
        const std::string name = nameOf(names, static_cast<int>(k) + 1);
        entries.push_back(fmt::format("{}{} ({})", k + 1, name.empty() ? "" : " " + name, readable(durations[k])));
        widest = std::max(widest, textWidth(entries.back(), 11.0, false));
    }
    out.place(Builder::text("Stages", kLeft, top + 12.0, Anchor::start, 12.0, true));
    const double column = widest + 34.0;
    const auto columns = static_cast<std::size_t>(std::max(1.0, std::floor(plotWidth / column)));
    const std::size_t rows = (entries.size() + columns - 1) / columns;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        const double x = kLeft + column * static_cast<double>(k / rows);
        const double y = top + 30.0 + 16.0 * static_cast<double>(k % rows);
        out.shape(R"svg(<rect x="{:.2f}" y="{:.2f}" width="14" height="11" fill="{}" stroke="#555" )svg"
                  R"svg(stroke-width="0.6"/>)svg",
                  x, y - 10.0, stageColour(static_cast<int>(k) + 1));
        out.place(Builder::text(entries[k], x + 19.0, y, Anchor::start, 11.0));
    }
    return top + 30.0 + 16.0 * static_cast<double>(rows);
}

}  // namespace

double chart::layoutBeds(Builder &out, const ChartBeds &beds, const std::vector<std::string> &stageNames,
                         const std::string &timeUnit, double top, double plotWidth) {
    double y = top;
    if (!beds.heading.empty()) {
        y += 18.0;
        out.place(Builder::text(truncated(printable(beds.heading), 12.0, true, plotWidth), kLeft, y, Anchor::start,
                                12.0, true, "#7f4f00"));
    }
    for (const auto &[lines, colour] : {std::pair{&beds.notes, "#555"}, std::pair{&beds.faults, kMisfitColour}}) {
        for (const std::string &note : *lines) {
            for (const std::string &line : wrapped(printable(note), 12.0, out.layout.width - 40.0)) {
                y += 18.0;
                out.place(Builder::text(line, 20.0, y, Anchor::start, 12.0, false, colour));
            }
        }
    }
    const BedGrid &grid = beds.grid;
    const double scale = grid.cycleDuration > 0.0 && std::isfinite(plotWidth / grid.cycleDuration)
                             ? plotWidth / grid.cycleDuration
                             : 0.0;
    const Rows rows{y + 24.0, scale};
    drawRows(out, stageNames, grid, rows);
    drawMisfits(out, grid, rows);
    drawMeetings(out, grid, rows);
    const double axisBottom = drawAxis(out, grid, rows, timeUnit);
    return beds.legend ? drawLegend(out, stageNames, grid, axisBottom + 8.0, plotWidth) : axisBottom;
}

ChartBeds chartBeds(const Cycle &cycle, const BedGrid &grid, const std::string &timeUnit) {
    ChartBeds beds;
    beds.grid = grid;
    beds.notes.push_back(fmt::format(
        "Beds: {}.", fittingBedsText(!grid.links.empty(), grid.fittingBedCounts, cycle.stageCount())));
    for (const BedMisfit &misfit : grid.misfits) {
        for (const std::string &line : explainMisfit(cycle, grid, misfit, timeUnit)) {
            beds.faults.push_back(line);
        }
    }
    return beds;
}

std::string renderBedsChart(const Cycle &cycle, const BedGrid &grid, const std::string &timeUnit) {
    Builder out;
    out.layout.width = kLeft + kPlotWidth + kRight;
    const std::string title = fmt::format("Cycle {}: {} beds, each {} behind the one before", printable(cycle.name),
                                          grid.beds, withUnit(grid.shift, timeUnit));
    out.place(Builder::text(truncated(title, 16.0, true, out.layout.width - 40.0), 20.0, 28.0, Anchor::start, 16.0,
                            true));
    ChartBeds beds = chartBeds(cycle, grid, timeUnit);
    beds.notes.insert(beds.notes.begin(),
                      fmt::format("Each row is one bed over one cycle of {}; the dotted lines mark the shifts. A line "
                                  "joins two linked stages where they begin together in two beds.",
                                  withUnit(grid.cycleDuration, timeUnit)));
    beds.legend = true;
    const double bottom = chart::layoutBeds(out, beds, cycle.stageNames, timeUnit, 28.0, kPlotWidth);
    out.layout.height = std::ceil(bottom + 14.0);
    return renderSvg(out.layout);
}

}  // namespace su55if::engine
