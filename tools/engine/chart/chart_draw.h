// The chart's drawing toolkit, shared by the picture of the cycle
// (chart_cycle.cpp) and the picture of the run (chart.cpp): the margins and
// colours, text metrics, and the Builder that places shapes and texts so
// that no two texts overlap.
#pragma once

#include <fmt/format.h>

#include <array>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "engine/chart/chart.h"
#include "engine/text.h"

namespace su55if::engine::chart {

constexpr double kLeft = 100.0;  // room for the names of rows and the values of ticks
constexpr double kRight = 60.0;

constexpr std::size_t kMaxBars = 6;     // schedules drawn as bars: the first ones and the last

// Twenty light colours that black text reads on, no two alike: stages 1 to 20
// each their own, then again from the first.
constexpr std::array<const char *, 20> kPalette{
    "#8dd3c7", "#ffffb3", "#bebada", "#fb8072", "#80b1d3", "#fdb462", "#b3de69", "#fccde5", "#d9d9d9", "#bc80bd",
    "#ccebc5", "#ffed6f", "#aec7e8", "#ffbb78", "#98df8a", "#ff9896", "#c5b0d5", "#c49c94", "#f7b6d2", "#9edae5"};

// The lines across the run that mark a cycle start, a change of schedule and
// linked stages that parted: colour and SVG dash pattern.
struct MarkStyle {
    const char *colour;
    const char *dash;
};
constexpr MarkStyle kCycleStartMark{"#999", "2,3"};
constexpr MarkStyle kScheduleMark{"#b9770e", "7,4"};
constexpr MarkStyle kDriftMark{"#c0392b", "3,3"};

// The colour of stage `stage` (from 1) in the bars and in the stage strip.
inline const char *stageColour(int stage) {
    return kPalette[stage > 0 ? static_cast<std::size_t>(stage - 1) % kPalette.size() : 0];
}

// The width of `text` (valid UTF-8) at `size`, estimated generously from its
// characters, so that a box of this width holds the drawn text.
double textWidth(const std::string &text, double size, bool bold);

// `text` cut at a character boundary, with an ellipsis, to fit `width`.
std::string truncated(const std::string &text, double size, bool bold, double width);

// A tick spacing of 1, 2 or 5 times a power of ten giving about `target`
// ticks; 0 or not finite for a span too small or too large to divide.
double niceStep(double span, double target);

constexpr int kMaxTicks = 40;  // on any axis

bool overlap(const ChartBox &a, const ChartBox &b);

// The characters that XML gives a meaning, as entities.
std::string xmlEscaped(const std::string &text);

struct Segment {
    double x1, y1, x2, y2;
};

// Whether a line segment passes through a box.
bool crosses(const Segment &s, const ChartBox &box);

using Anchor = ChartText::Anchor;

// The layout being built: shapes, texts, and what a new text may not cover
// (the texts placed so far, and lines that must stay readable).
class Builder {
public:
    ChartLayout layout;

    template <typename... Args>
    void shape(fmt::format_string<Args...> format, Args &&...args) {
        layout.shapes.push_back(fmt::format(format, std::forward<Args>(args)...));
    }

    // A text from raw bytes, shown as printable() shows them, its box
    // estimated: the ascent above the baseline, the descent under it.
    static ChartText text(const std::string &raw, double x, double y, Anchor anchor = Anchor::start,
                          double size = 12.0, bool bold = false, const char *colour = "#000");

    // Whether a box lies within the chart's width and keeps a small gap to
    // every text placed and, unless `overLines`, to the lines blocked.
    bool fits(const ChartBox &box, bool overLines = false) const;

    // Whether a line keeps clear of every text placed.
    bool fits(const Segment &line) const;

    // Places a text only where it comes near nothing placed before; a text
    // with a halo may cross lines, which it interrupts.
    bool tryPlace(const ChartText &t);

    // Places a text whose room the layout has set aside.
    void place(const ChartText &t);

    // A line that texts placed later keep clear of.
    void block(const Segment &line) { lines_.push_back(line); }

private:
    static constexpr double kGap = 3.0;
    std::vector<ChartBox> obstacles_;
    std::vector<Segment> lines_;
};

// The picture of the cycle across `plotWidth`, from the top of the chart:
// the title and notes, then a bar per schedule drawn (the links over the
// first), then the legend of the stages the bars could not label in full.
// Returns its bottom, where the picture of the run begins.
double layoutCycle(Builder &out, const ChartInput &input, double plotWidth);

// A picture of beds (chart_beds.cpp) from `top` across `plotWidth`: the
// heading and notes, one row per bed, the time axis and, if asked, the
// legend. Returns its bottom.
double layoutBeds(Builder &out, const ChartBeds &beds, const std::vector<std::string> &stageNames,
                  const std::string &timeUnit, double top, double plotWidth);

}  // namespace su55if::engine::chart
