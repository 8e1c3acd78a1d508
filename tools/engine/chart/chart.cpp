// The chart's picture of the run under the picture of the cycle, and the SVG
// document drawn from the layout.
#include "engine/chart/chart.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <iterator>
#include <optional>

#include "engine/chart/chart_draw.h"
#include "engine/text.h"

namespace su55if::engine {

using namespace chart;

namespace {

constexpr double kMinPlotWidth = 860.0;
constexpr double kMaxPlotWidth = 1800.0;
constexpr double kPlotWidthPerStage = 18.0;

// The series over the run in turn, across the lanes.
constexpr std::array<const char *, 8> kLineColours{"#1f77b4", "#ff7f0e", "#c0392b", "#2ca02c",
                                                   "#8e44ad", "#8c564b", "#17becf", "#7f7f7f"};

// A series as a step path, its value held from each point to the next and to
// the end of the run. The points in one column are drawn as one step, to the
// column's lowest and highest value and on to its last, so that the size of
// the path follows the width of the chart rather than the length of the run.
template <typename YOf>
std::string stepPath(const ChartSeries &series, const ChartTimeAxis &axis, const YOf &yOf) {
    std::string path;
    double column = -1.0;
    double low = 0.0, high = 0.0, last = 0.0;
    auto flush = [&] {
        if (column >= 0.0) {
            if (path.empty()) {
                fmt::format_to(std::back_inserter(path), "M{:.1f},{:.1f}", column, low);
            } else {
                fmt::format_to(std::back_inserter(path), " H{:.1f} V{:.1f}", column, low);
            }
            if (high != low) {
                fmt::format_to(std::back_inserter(path), " V{:.1f}", high);
            }
            if (last != high) {
                fmt::format_to(std::back_inserter(path), " V{:.1f}", last);
            }
        }
    };
    for (const auto &[time, value] : series.points) {
        if (!std::isfinite(time) || std::isnan(value)) {
            continue;
        }
        const double x = axis.column(time);
        const double y = yOf(value);
        if (x != column) {
            flush();
            column = x;
            low = high = y;
        }
        low = std::min(low, y);
        high = std::max(high, y);
        last = y;
    }
    flush();
    if (!path.empty()) {
        fmt::format_to(std::back_inserter(path), " H{:.1f}", axis.x(axis.stopTime));
    }
    return path;
}

// The vertical range of a lane: the series' finite values, with 0 for spans;
// tick values 1 apart for a few whole numbers, else a round spacing.
struct Range {
    double low = 0.0;
    double high = 1.0;
    double step = 1.0;
};

Range rangeOf(const std::vector<ChartSeries> &series, bool withZero) {
    // Values beyond these are drawn at the edge, so that the range stays finite.
    constexpr double kLimit = 1e300;
    double low = withZero ? 0.0 : kLimit;
    double high = withZero ? 0.0 : -kLimit;
    bool whole = true;
    for (const ChartSeries &s : series) {
        for (const auto &point : s.points) {
            if (std::isfinite(point.second)) {
                const double value = std::clamp(point.second, -kLimit, kLimit);
                low = std::min(low, value);
                high = std::max(high, value);
                whole = whole && value == std::round(value);
            }
        }
    }
    if (!(low <= high)) {
        return {};
    }
    if (whole && high - low <= 6.0 && low + 1.0 > low) {
        return {low, std::max(high, low + 1.0), 1.0};
    }
    if (!(high - low > std::fabs(low) * 1e-9)) {
        high = low + std::max(std::fabs(low), 1.0);
    }
    const double step = niceStep(high - low, 3.0);
    if (!(step > 0.0) || !std::isfinite(step)) {
        return {};
    }
    return {std::floor(low / step) * step, std::ceil(high / step) * step, step};
}

// The dash pattern of the i-th series of a lane: every second one dashed.
constexpr const char *kDash = "6,3";
const char *dashOf(std::size_t i) { return i % 2 == 1 ? R"svg( stroke-dasharray="6,3")svg" : ""; }

// One lane over the run: grid lines at its ticks, their values in the left
// margin, each series as a step line, in the colours from `firstColour` on.
// Above the lane, each series' name after a piece of its line. Returns its
// bottom.
double drawLane(Builder &out, const ChartLane &lane, std::size_t firstColour, const ChartTimeAxis &axis,
                double top) {
    const Range range = rangeOf(lane.series, lane.withZero);
    const double height = range.step == 1.0 && range.high - range.low <= 6.0
                              ? std::clamp(18.0 * (range.high - range.low), 36.0, 100.0)
                              : 90.0;
    const double bottom = top + height;
    auto yOf = [&](double value) {
        const double v = std::clamp(value, range.low, range.high);
        return bottom - (v - range.low) / (range.high - range.low) * height;
    };
    const double right = axis.x(axis.stopTime);
    const double firstTick = std::ceil(range.low / range.step) * range.step;
    for (int i = 0; i <= kMaxTicks && firstTick + i * range.step <= range.high; ++i) {
        const double tick = firstTick + i * range.step;
        out.shape(R"svg(<line x1="{}" y1="{:.2f}" x2="{:.2f}" y2="{:.2f}" stroke="#ddd"/>)svg", kLeft, yOf(tick),
                  right, yOf(tick));
        out.tryPlace(
            Builder::text(readableTo(tick, range.step), kLeft - 8.0, yOf(tick) + 4.0, Anchor::end, 11.0, false, "#555"));
    }
    double x = kLeft;
    for (std::size_t i = 0; i < lane.series.size(); ++i) {
        const char *colour = kLineColours[(firstColour + i) % kLineColours.size()];
        const std::string path = stepPath(lane.series[i], axis, yOf);
        if (!path.empty()) {
            out.shape(R"svg(<path d="{}" fill="none" stroke="{}" stroke-width="1.8"{}/>)svg", path, colour, dashOf(i));
        }
        out.shape(R"svg(<line x1="{0:.2f}" y1="{1:.2f}" x2="{2:.2f}" y2="{1:.2f}" stroke="{3}" stroke-width="1.8"{4}/>)svg",
                  x, top - 12.0, x + 22.0, colour, dashOf(i));
        const ChartText t = Builder::text(lane.series[i].name, x + 27.0, top - 8.0, Anchor::start, 12.0, true, colour);
        out.place(t);
        x = t.box.right + 20.0;
    }
    return bottom;
}

// The stage in force as a strip of boxes in the stages' colours, numbered
// where they have room. Stages shorter than half a pixel are drawn grey, one
// box for each run of them, so that a long run is drawn at the chart's
// resolution. Whether a stage is that short, and where a run of them begins
// and ends, the first and last points of each column tell: the strip is the
// same whether it is drawn from every change or from those addSample keeps.
double drawStageStrip(Builder &out, const ChartSeries &stages, const ChartTimeAxis &axis, double top) {
    constexpr double kHeight = 16.0;
    auto box = [&](double from, double to, const char *colour) {
        out.shape(R"svg(<rect x="{:.2f}" y="{}" width="{:.2f}" height="{}" fill="{}"/>)svg", from, top,
                  std::max(to - from, 0.0), kHeight, colour);
    };
    const auto &points = stages.points;
    std::optional<double> greyFrom;  // where the run of short stages not drawn yet begins
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double x = axis.x(points[i].first);
        const double end = axis.x(i + 1 < points.size() ? points[i + 1].first : axis.stopTime);
        if (end - x < 0.5) {
            greyFrom = greyFrom.value_or(x);
            if (i + 1 == points.size()) {
                box(*greyFrom, end, "#bbb");
            }
            continue;
        }
        if (greyFrom) {
            box(*greyFrom, x, "#bbb");
            greyFrom.reset();
        }
        const double value = points[i].second;
        const int stage = value >= 1.0 && value <= 1000.0 ? static_cast<int>(value) : 0;
        box(x, end, stageColour(stage));
        const ChartText t = Builder::text(fmt::format("{}", stage), (x + end) / 2.0, top + 12.0, Anchor::middle, 10.0);
        if (t.box.right - t.box.left <= end - x - 2.0) {
            out.tryPlace(t);
        }
    }
    out.place(Builder::text("stage", kLeft - 8.0, top + 12.0, Anchor::end));
    return top + kHeight;
}

// What the values of the lanes with a key stand for, in a table under the
// time axis: the series' names in the margin, the values right-aligned, then
// their meanings. Returns its bottom.
double drawKeys(Builder &out, const std::vector<ChartLane> &lanes, double top) {
    constexpr double kSize = 11.0;
    constexpr double kRow = 15.0;
    double valuesWidth = 0.0;
    for (const ChartLane &lane : lanes) {
        for (const auto &entry : lane.key) {
            valuesWidth = std::max(valuesWidth, textWidth(printable(entry.first), kSize, false));
        }
    }
    double y = top;
    std::size_t colour = 0;
    for (const ChartLane &lane : lanes) {
        if (!lane.key.empty()) {
            y += 8.0;
            std::string names;
            for (const ChartSeries &series : lane.series) {
                names += (names.empty() ? "" : ", ") + series.name;
            }
            out.place(Builder::text(names, kLeft - 8.0, y + kRow, Anchor::end, kSize, true,
                                    kLineColours[colour % kLineColours.size()]));
            for (const auto &[values, meaning] : lane.key) {
                y += kRow;
                out.place(Builder::text(values, kLeft + 4.0 + valuesWidth, y, Anchor::end, kSize, true));
                const double x = kLeft + 14.0 + valuesWidth;
                out.place(Builder::text(truncated(printable(meaning), kSize, false, out.layout.width - x - 20.0), x, y,
                                        Anchor::start, kSize, false, "#333"));
            }
        }
        colour += lane.series.size();
    }
    return y;
}

// Everything over the times charted: the stage strip and the lanes, cycle
// starts dotted, schedule changes dashed and numbered, the time axis, and the
// keys of the lanes. Returns its bottom.
// Linked stages that no longer last the same.
constexpr const char *kDriftColour = kDriftMark.colour;

double drawRun(Builder &out, const ChartInput &input, const ChartTimeAxis &axis, double top) {
    // Schedule changes numbered in a row of their own at the top.
    const std::vector<ChartChange> &changes = input.schedules.changes();
    if (!changes.empty()) {
        top += 16.0;
        out.place(Builder::text("schedule", kLeft - 8.0, top - 4.0, Anchor::end, 10.0, false, "#7f4f00"));
        for (const ChartChange &change : changes) {
            out.tryPlace(Builder::text(fmt::format("{}", change.number), axis.x(change.time), top - 4.0,
                                       Anchor::middle, 10.0, true, "#7f4f00"));
        }
    }
    // Linked stages that came to last differently, in a row of their own.
    if (!input.drifts.empty()) {
        top += 16.0;
        out.place(Builder::text("links apart", kLeft - 8.0, top - 4.0, Anchor::end, 10.0, false, kDriftColour));
        for (const ChartDrift &drift : input.drifts) {
            out.tryPlace(Builder::text(fmt::format("{}≠{}", drift.stage, drift.partner), axis.x(drift.time),
                                       top - 4.0, Anchor::middle, 10.0, true, kDriftColour));
        }
    }
    double y = drawStageStrip(out, input.stages, axis, top + 4.0) + 36.0;
    std::size_t colour = 0;
    for (const ChartLane &lane : input.lanes) {
        y = drawLane(out, lane, colour, axis, y) + 36.0;
        colour += lane.series.size();
    }
    const double panelBottom = y - 26.0;

    // Cycle starts: where the first stage comes back, the first in each
    // column (the first point at the column's lowest stage, which addSample
    // keeps).
    std::vector<double> cycleStarts;
    const auto &points = input.stages.points;
    for (std::size_t i = 1; i < points.size() && cycleStarts.size() <= kMaxMarks; ++i) {
        if (startsCycle(points[i - 1].second, points[i].second) &&
            (cycleStarts.empty() || axis.column(points[i].first) != axis.column(cycleStarts.back()))) {
            cycleStarts.push_back(points[i].first);
        }
    }
    if (cycleStarts.size() <= kMaxMarks) {
        for (double t : cycleStarts) {
            out.shape(R"svg(<line x1="{0:.2f}" y1="{1:.2f}" x2="{0:.2f}" y2="{2:.2f}" stroke="{3}" )svg"
                      R"svg(stroke-dasharray="{4}"/>)svg",
                      axis.x(t), top, panelBottom, kCycleStartMark.colour, kCycleStartMark.dash);
        }
    }
    for (const ChartChange &change : changes) {
        out.shape(R"svg(<line x1="{0:.2f}" y1="{1:.2f}" x2="{0:.2f}" y2="{2:.2f}" stroke="{3}" )svg"
                  R"svg(stroke-width="1.2" stroke-dasharray="{4}"/>)svg",
                  axis.x(change.time), top, panelBottom, kScheduleMark.colour, kScheduleMark.dash);
    }

    for (const ChartDrift &drift : input.drifts) {
        out.shape(R"svg(<line x1="{0:.2f}" y1="{1:.2f}" x2="{0:.2f}" y2="{2:.2f}" stroke="{3}" )svg"
                  R"svg(stroke-width="1.2" stroke-dasharray="{4}"/>)svg",
                  axis.x(drift.time), top, panelBottom, kDriftColour, kDriftMark.dash);
    }

    // The time axis, its ticks at the multiples of a round step.
    const double axisY = panelBottom + 16.0;
    const double plotWidth = axis.x(axis.stopTime) - kLeft;
    const double span = axis.stopTime - axis.startTime;
    const double step = niceStep(span, plotWidth / 90.0);
    const double firstTick = std::ceil(axis.startTime / step) * step;
    double ticksLeft = kLeft;  // where the first tick's value begins
    for (int i = 0; i <= kMaxTicks && firstTick + i * step - axis.startTime <= span * (1.0 + 1e-12); ++i) {
        const double tick = firstTick + i * step;
        out.shape(R"svg(<line x1="{0:.2f}" y1="{1:.2f}" x2="{0:.2f}" y2="{2:.2f}" stroke="#555"/>)svg",
                  axis.x(tick), panelBottom, panelBottom + 4.0);
        const ChartText t =
            Builder::text(readableTo(tick, step), axis.x(tick), axisY, Anchor::middle, 11.0, false, "#555");
        if (out.tryPlace(t)) {
            ticksLeft = std::min(ticksLeft, t.box.left);
        }
    }
    out.place(Builder::text(input.timeUnit.empty() ? "time" : "time (" + input.timeUnit + ")",
                            std::min(kLeft - 8.0, ticksLeft - 6.0), axisY, Anchor::end, 11.0));
    return drawKeys(out, input.lanes, axisY + 12.0);
}

// Whether the times from `from` to `to` give a scale across `plotWidth`.
bool usableWindow(double from, double to, double plotWidth) {
    return std::isfinite(from) && to > from && std::isfinite(to - from) && std::isfinite(plotWidth / (to - from));
}

}  // namespace

void ChartSchedules::add(const ChartSchedule &schedule) {
    ++count_;
    if (bars_.size() < kMaxBars) {
        bars_.push_back(schedule);
    } else {
        bars_.back() = schedule;
    }
    bars_.back().number = count_;
    if (count_ > 1 && changes_.size() < kMaxMarks && schedule.from >= markFrom_ && schedule.from <= markTo_) {
        changes_.push_back({count_, schedule.from});
    }
}

std::string readableTo(double value, double resolution) {
    const double magnitude = std::fabs(value);
    int digits = 6;
    if (magnitude > 0.0 && std::isfinite(magnitude) && resolution > 0.0 && std::isfinite(resolution)) {
        digits = std::clamp(static_cast<int>(std::floor(std::log10(magnitude)) - std::floor(std::log10(resolution))) + 1,
                            6, 17);
    }
    return fmt::format("{:.{}g}", value, digits);
}

double chartPlotWidth(std::size_t stageCount) {
    return std::clamp(kPlotWidthPerStage * static_cast<double>(stageCount), kMinPlotWidth, kMaxPlotWidth);
}

ChartTimeAxis::ChartTimeAxis(double from, double to, double plotWidth)
    : startTime(usableWindow(from, to, plotWidth) ? from : 0.0),
      stopTime(usableWindow(from, to, plotWidth) ? to : 1.0),
      scale(plotWidth / (stopTime - startTime)) {}

double ChartTimeAxis::x(double time) const {
    return kLeft + (std::isnan(time) ? 0.0 : std::clamp(time, startTime, stopTime) - startTime) * scale;
}

double ChartTimeAxis::column(double time) const { return std::round(x(time) * 2.0) / 2.0; }

void addSample(ChartSeries &series, const ChartTimeAxis &axis, double time, double value) {
    auto &points = series.points;
    if (time < axis.startTime) {
        points.clear();
    }
    if (std::isnan(value) || time > axis.stopTime || (!points.empty() && points.back().second == value)) {
        return;
    }
    const double column = axis.column(time);
    std::size_t first = points.size();  // the first point of the sample's column
    while (first > 0 && axis.column(points[first - 1].first) == column) {
        --first;
    }
    points.emplace_back(time, value);
    // The first point of the column whose value none after it is better than.
    auto best = [&](auto better) {
        std::size_t found = first;
        for (std::size_t i = first + 1; i < points.size(); ++i) {
            if (better(points[i].second, points[found].second)) {
                found = i;
            }
        }
        return found;
    };
    auto finite = [](double v) { return std::isfinite(v); };
    auto fraction = [](double v) { return std::isfinite(v) && v != std::round(v); };
    const std::array kept{
        first,
        points.size() - 1,
        best(std::less<>()),
        best(std::greater<>()),
        best([&](double a, double b) { return finite(a) && !(finite(b) && b <= a); }),
        best([&](double a, double b) { return finite(a) && !(finite(b) && b >= a); }),
        best([&](double a, double b) { return fraction(a) && !fraction(b); }),
    };
    std::size_t end = first;
    for (std::size_t i = first; i < points.size(); ++i) {
        if (std::find(kept.begin(), kept.end(), i) != kept.end()) {
            points[end++] = points[i];
        }
    }
    points.resize(end);
}

ChartLayout layoutChart(const ChartInput &input) {
    Builder out;
    const auto &bars = input.schedules.bars();
    const double plotWidth = chartPlotWidth(bars.empty() ? 0 : bars.front().durations.size());
    out.layout.width = kLeft + plotWidth + kRight;
    const double cycleBottom = layoutCycle(out, input, plotWidth);
    double bottom = drawRun(out, input, ChartTimeAxis(input.startTime, input.stopTime, plotWidth), cycleBottom + 14.0);
    for (const ChartBeds &beds : input.beds) {
        bottom = layoutBeds(out, beds, input.stageNames, input.timeUnit, bottom + 10.0, plotWidth);
    }
    out.layout.height = std::ceil(bottom + 14.0);
    return std::move(out.layout);
}

std::string renderSvg(const ChartLayout &layout) {
    std::string svg;
    auto add = [&svg]<typename... Args>(fmt::format_string<Args...> format, Args &&...args) {
        fmt::format_to(std::back_inserter(svg), format, std::forward<Args>(args)...);
        svg += '\n';
    };
    add(R"svg(<?xml version="1.0" encoding="UTF-8"?>)svg");
    add(R"svg(<svg xmlns="http://www.w3.org/2000/svg" width="{0}" height="{1}" viewBox="0 0 {0} {1}" )svg"
        R"svg(font-family="sans-serif" font-size="12">)svg",
        layout.width, layout.height);
    add(R"svg(<defs><marker id="head" viewBox="0 0 10 10" refX="9" refY="5" markerWidth="6" )svg"
        R"svg(markerHeight="6" orient="auto-start-reverse"><path d="M0,0 L10,5 L0,10 z" fill="#333"/>)svg"
        R"svg(</marker></defs>)svg");
    add(R"svg(<rect width="100%" height="100%" fill="white"/>)svg");
    for (const std::string &shape : layout.shapes) {
        add("{}", shape);
    }
    for (const ChartText &t : layout.texts) {
        const char *anchor = t.anchor == Anchor::middle ? R"svg( text-anchor="middle")svg"
                             : t.anchor == Anchor::end  ? R"svg( text-anchor="end")svg"
                                                        : "";
        add(R"svg(<text x="{:.2f}" y="{:.2f}"{} font-size="{}" fill="{}"{}{}>{}</text>)svg", t.x, t.y, anchor, t.size,
            t.colour, t.bold ? R"svg( font-weight="bold")svg" : "",
            t.halo ? R"svg( stroke="white" stroke-width="3" paint-order="stroke")svg" : "", xmlEscaped(t.text));
    }
    add("</svg>");
    return svg;
}

std::string renderChart(const ChartInput &input) { return renderSvg(layoutChart(input)); }

std::vector<SeriesStyle> seriesStyles(const std::vector<ChartLane> &lanes) {
    std::vector<SeriesStyle> styles;
    for (const ChartLane &lane : lanes) {  // colours run on across the lanes, as drawLane takes them
        for (std::size_t i = 0; i < lane.series.size(); ++i) {
            styles.push_back({lane.series[i].name, kLineColours[styles.size() % kLineColours.size()],
                              *dashOf(i) != '\0' ? kDash : ""});
        }
    }
    return styles;
}

}  // namespace su55if::engine
