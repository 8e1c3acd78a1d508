// The chart's picture of the run under the picture of the cycle, and the SVG
// document drawn from the layout.
#include "chart.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>

#include "chart_draw.h"

namespace su55if::host {

using namespace chart;

namespace {

constexpr double kMinPlotWidth = 860.0;
constexpr double kMaxPlotWidth = 1800.0;
constexpr double kPlotWidthPerStage = 18.0;
constexpr int kMaxTicks = 40;   // on any axis
constexpr int kMaxMarks = 200;  // cycle starts and schedule changes marked over the run

constexpr std::array<const char *, 4> kLineColours{"#c0392b", "#2ca02c", "#8e44ad", "#8c564b"};

struct TimeAxis {
    double stopTime;
    double scale;
    // A time that is not a number is drawn at the start, as a time before it.
    double x(double time) const { return kLeft + (std::isnan(time) ? 0.0 : std::clamp(time, 0.0, stopTime)) * scale; }
};

// A series as a step path, its value held from each point to the next and to
// the end of the run. Points closer than a pixel share one column: the path
// keeps each column's lowest and highest value, so that its size follows the
// width of the chart rather than the length of the run.
template <typename YOf>
std::string stepPath(const ChartSeries &series, const TimeAxis &axis, const YOf &yOf) {
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
        const double x = std::round(axis.x(time) * 2.0) / 2.0;
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

// One lane over the run: grid lines at its ticks, their values in the left
// margin, each series as a step line. Returns its bottom.
double drawLane(Builder &out, const std::vector<ChartSeries> &series, const std::vector<const char *> &colours,
                const TimeAxis &axis, double top, bool withZero) {
    const Range range = rangeOf(series, withZero);
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
        out.tryPlace(Builder::text(number(tick), kLeft - 8.0, yOf(tick) + 4.0, Anchor::end, 11.0, false, "#555"));
    }
    for (std::size_t i = 0; i < series.size(); ++i) {
        const std::string path = stepPath(series[i], axis, yOf);
        if (!path.empty()) {
            out.shape(R"svg(<path d="{}" fill="none" stroke="{}" stroke-width="1.8"{}/>)svg", path, colours[i],
                      i % 2 == 1 ? R"svg( stroke-dasharray="6,3")svg" : "");
        }
    }
    // Every name of a series in its colour above the lane.
    double x = kLeft;
    for (std::size_t i = 0; i < series.size(); ++i) {
        const ChartText t = Builder::text(series[i].name, x, top - 8.0, Anchor::start, 12.0, true, colours[i]);
        out.place(t);
        x = t.box.right + 16.0;
    }
    return bottom;
}

// The stage in force as a strip of coloured boxes, numbered where they have
// room. Stages shorter than half a pixel are drawn together with the next ones
// as one grey box, so that a long run is drawn at the chart's resolution.
double drawStageStrip(Builder &out, const ChartSeries &stages, const TimeAxis &axis, double top) {
    constexpr double kHeight = 16.0;
    const auto &points = stages.points;
    double from = 0.0;     // where the part not drawn yet begins
    std::size_t held = 0;  // how many stages it holds
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double x = axis.x(points[i].first);
        const double end = axis.x(i + 1 < points.size() ? points[i + 1].first : axis.stopTime);
        from = held == 0 ? x : from;
        ++held;
        if (end - from < 0.5 && i + 1 < points.size()) {
            continue;
        }
        const double value = points[i].second;
        const int stage = value >= 1.0 && value <= 1000.0 ? static_cast<int>(value) : 0;
        out.shape(R"svg(<rect x="{:.2f}" y="{}" width="{:.2f}" height="{}" fill="{}"/>)svg", from, top,
                  std::max(end - from, 0.0), kHeight, held == 1 ? stageColour(stage) : "#bbb");
        const ChartText t = Builder::text(fmt::format("{}", stage), (x + end) / 2.0, top + 12.0, Anchor::middle, 10.0);
        if (held == 1 && t.box.right - t.box.left <= end - x - 2.0) {
            out.tryPlace(t);
        }
        held = 0;
    }
    out.place(Builder::text("stage", kLeft - 8.0, top + 12.0, Anchor::end));
    return top + kHeight;
}

// Everything over the run: the stage strip, the spans, each other output in a
// lane of its own, cycle starts dotted, schedule changes dashed, the time axis.
double drawRun(Builder &out, const ChartInput &input, const TimeAxis &axis, double top) {
    const double panelTop = top;
    // Schedule changes labelled in a row of their own at the top.
    std::vector<double> changes;
    for (std::size_t i = 1; i < input.schedules.size() && changes.size() < static_cast<std::size_t>(kMaxMarks); ++i) {
        changes.push_back(input.schedules[i].from);
    }
    if (!changes.empty()) {
        top += 16.0;
        for (std::size_t i = 0; i < changes.size(); ++i) {
            out.tryPlace(Builder::text(fmt::format("schedule {}", i + 2), axis.x(changes[i]), top - 4.0, Anchor::middle,
                                       10.0, false, "#7f4f00"));
        }
    }
    double y = drawStageStrip(out, input.stages, axis, top + 4.0) + 36.0;
    if (!input.spans.empty()) {
        y = drawLane(out, input.spans, {"#1f77b4", "#ff7f0e", "#2ca02c", "#9467bd"}, axis, y, true) + 36.0;
    }
    for (std::size_t i = 0; i < input.codes.size(); ++i) {
        y = drawLane(out, {input.codes[i]}, {kLineColours[i % kLineColours.size()]}, axis, y, false) + 36.0;
    }
    const double panelBottom = y - 26.0;

    // Cycle starts: where the first stage comes back.
    std::vector<double> cycleStarts;
    const auto &points = input.stages.points;
    for (std::size_t i = 1; i < points.size() && cycleStarts.size() <= static_cast<std::size_t>(kMaxMarks); ++i) {
        if (points[i].second == 1.0 && points[i - 1].second != 1.0) {
            cycleStarts.push_back(points[i].first);
        }
    }
    if (cycleStarts.size() <= static_cast<std::size_t>(kMaxMarks)) {
        for (double t : cycleStarts) {
            out.shape(R"svg(<line x1="{0:.2f}" y1="{1:.2f}" x2="{0:.2f}" y2="{2:.2f}" stroke="#999" )svg"
                      R"svg(stroke-dasharray="2,3"/>)svg",
                      axis.x(t), top, panelBottom);
        }
    }
    for (double t : changes) {
        out.shape(R"svg(<line x1="{0:.2f}" y1="{1:.2f}" x2="{0:.2f}" y2="{2:.2f}" stroke="#b9770e" )svg"
                  R"svg(stroke-width="1.2" stroke-dasharray="7,4"/>)svg",
                  axis.x(t), panelTop + 2.0, panelBottom);
    }

    // The time axis.
    const double axisY = panelBottom + 16.0;
    const double plotWidth = axis.x(axis.stopTime) - kLeft;
    const double step = niceStep(axis.stopTime, plotWidth / 90.0);
    for (int i = 0; i <= kMaxTicks && i * step <= axis.stopTime * (1.0 + 1e-12); ++i) {
        out.shape(R"svg(<line x1="{0:.2f}" y1="{1:.2f}" x2="{0:.2f}" y2="{2:.2f}" stroke="#555"/>)svg",
                  axis.x(i * step), panelBottom, panelBottom + 4.0);
        out.tryPlace(Builder::text(number(i * step), axis.x(i * step), axisY, Anchor::middle, 11.0, false, "#555"));
    }
    out.place(Builder::text(input.timeUnit.empty() ? "time" : "time (" + input.timeUnit + ")", kLeft - 8.0, axisY,
                            Anchor::end, 11.0));
    return axisY + 12.0;
}

// The characters that XML gives a meaning, as entities.
std::string xmlEscaped(const std::string &text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace

ChartLayout layoutChart(const ChartInput &input) {
    Builder out;
    const std::size_t stageCount = input.schedules.empty() ? 0 : input.schedules.front().durations.size();
    const double plotWidth = std::clamp(kPlotWidthPerStage * static_cast<double>(stageCount), kMinPlotWidth,
                                        kMaxPlotWidth);
    out.layout.width = kLeft + plotWidth + kRight;
    const double cycleBottom = layoutCycle(out, input, plotWidth);

    double stopTime = input.stopTime;
    if (!(stopTime > 0.0 && std::isfinite(stopTime) && std::isfinite(plotWidth / stopTime))) {
        stopTime = 1.0;
    }
    const double runBottom = drawRun(out, input, TimeAxis{stopTime, plotWidth / stopTime}, cycleBottom + 14.0);
    out.layout.height = std::ceil(runBottom + 14.0);
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

}  // namespace su55if::host
