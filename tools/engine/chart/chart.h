// An SVG picture of a run: the cycle as a bar of stages with the interaction
// links between partners, and under it what the library computed over time,
// over the whole run or a window of it.
//
// The chart is drawn from change points, at the resolution of the chart:
// every series holds times at which its value changed, a value holding until
// the next point, and a run feeds it through addSample, which keeps only
// what the chart draws, so that a run of any length takes the same memory.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/beds.h"

namespace su55if::engine {

// The most marks of one kind (cycle starts, schedule changes, drifting links)
// drawn over the run.
inline constexpr std::size_t kMaxMarks = 200;

struct ChartSeries {
    std::string name;
    std::vector<std::pair<double, double>> points;  // (time, value) at change points, held until the next
};

// The durations in force from `from` on, and the cycle duration the library
// reported for them: the chart shows that one rather than a sum of its own.
struct ChartSchedule {
    double from = 0.0;
    std::vector<double> durations;
    double cycleDuration = 0.0;
    std::size_t number = 0;  // from 1 in the order of the run; ChartSchedules::add sets it
};

// A change of schedule marked over the run, labelled with the new one's number.
struct ChartChange {
    std::size_t number = 0;
    double time = 0.0;
};

// The schedules of a run as the chart draws them: the first ones and the
// last as bars, the first changes within the times charted as marks, and how
// many there were, so that a run whose durations change at every sample
// keeps no more.
class ChartSchedules {
public:
    ChartSchedules() = default;
    // Only changes from `markFrom` to `markTo` are marked.
    ChartSchedules(double markFrom, double markTo) : markFrom_(markFrom), markTo_(markTo) {}

    // The next schedule of the run; the first is in force from time 0.
    void add(const ChartSchedule &schedule);

    const std::vector<ChartSchedule> &bars() const { return bars_; }  // the first ones and the last
    const std::vector<ChartChange> &changes() const { return changes_; }
    std::size_t count() const { return count_; }  // of every schedule added

private:
    double markFrom_ = -std::numeric_limits<double>::infinity();
    double markTo_ = std::numeric_limits<double>::infinity();
    std::vector<ChartSchedule> bars_;
    std::vector<ChartChange> changes_;
    std::size_t count_ = 0;
};

// Values over the run drawn on one scale, in a lane of their own under the
// stage strip: each series in a colour of its own, every second one dashed,
// and, under the time axis, what its values stand for when they are codes.
struct ChartLane {
    std::vector<ChartSeries> series;
    bool withZero = false;  // the scale reaches 0 whatever the values
    std::vector<std::pair<std::string, std::string>> key;  // (values, what they mean), in the order shown
};

// Two linked stages that came to last differently, marked over the run.
struct ChartDrift {
    double time = 0.0;
    int stage = 0;
    int partner = 0;
};

// N beds over one cycle of a schedule (beds.h), drawn under a heading and
// notes, the faults in red.
struct ChartBeds {
    std::string heading;
    std::vector<std::string> notes;
    std::vector<std::string> faults;
    BedGrid grid;
    bool legend = false;  // every stage with its name and duration under the grid
};

struct ChartInput {
    std::string title;                     // e.g. the cycle file's name: any bytes
    std::vector<std::string> notes;        // lines under the title: how the run was made, which part is charted
    std::string timeUnit;                  // a label only; empty: none
    std::vector<std::string> stageNames;   // stage k in element k - 1; "" or missing: the number only
    std::vector<double> partners;          // interaction-table entries, as the cycle file gives them
    ChartSchedules schedules;              // as the durations change
    ChartSeries stages;                    // the stage in force over time
    std::vector<ChartLane> lanes;          // under the stage strip, top to bottom
    std::vector<ChartDrift> drifts;        // within the times charted, the first kMaxMarks
    std::vector<ChartBeds> beds;           // with --beds: the grid of each schedule drawn, under the run
    double startTime = 0.0;                // the times charted: a window of the run, or all of it
    double stopTime = 0.0;
};

// An interaction link as the chart draws it: from a stage to the partner its
// entry names (read as the library reads it); a pair whose entries name each
// other with the same sign is one link both ways. label: "1↔3", "2→5".
struct ChartLink {
    int from = 0;
    int to = 0;
    bool bothWays = false;
    bool negative = false;  // the entry of `from` is negative
    std::string label;
};
std::vector<ChartLink> chartLinks(const std::vector<double> &partners, int count);

// The chart's title: "Cycle NAME: 4 stages, cycle duration 80 s" (the name
// as it is given: the caller makes it printable).
std::string chartTitle(std::string_view name, std::size_t stageCount, double cycleDuration, const std::string &timeUnit);

// A cycle starts at a sample whose stage is 1 after one whose stage was not.
inline bool startsCycle(double stageBefore, double stage) { return stage == 1.0 && stageBefore != 1.0; }

// The whole SVG document. Every text is shown as printable() shows it, and
// escaped for XML.
std::string renderChart(const ChartInput &input);

// How renderChart draws each series of `lanes`: its colour, and its dash
// pattern as SVG's stroke-dasharray ("" for a solid line).
struct SeriesStyle {
    std::string name;
    const char *colour;
    const char *dash;
};
std::vector<SeriesStyle> seriesStyles(const std::vector<ChartLane> &lanes);

// `value` as readable() shows it, with more digits where a `resolution` that
// small needs them: so that the ticks of a narrow window far from 0 differ.
std::string readableTo(double value, double resolution);

// The width of the plot, which the bars and the time axis span, for a cycle
// of `stageCount` stages.
double chartPlotWidth(std::size_t stageCount);

// Where the times from `from` to `to` fall across the plot.
struct ChartTimeAxis {
    // Times that give no usable scale are taken as 0 to 1.
    ChartTimeAxis(double from, double to, double plotWidth);

    // A time outside the window is drawn at its edge; one that is not a
    // number at the start.
    double x(double time) const;
    // x to the half pixel: the points of a series in one column are drawn as
    // one step.
    double column(double time) const;

    double startTime;
    double stopTime;
    double scale;  // pixels per unit of time
};

// Appends the sample (time, value) to `series` if its value changed, then
// keeps of the column it falls in only the points that the chart draws: the
// first and the last, those with the lowest and the highest value, finite or
// not, and the first value that is not a whole number, which decides the
// ticks of its lane. A value that is not a number is not drawn, and not kept.
// Of the samples before the axis' times, only the last is kept, its value
// held into them; those after them are not.
void addSample(ChartSeries &series, const ChartTimeAxis &axis, double time, double value);

// The chart as data, so that its placement can be checked: renderChart draws
// exactly this.
struct ChartBox {
    double left = 0.0;
    double top = 0.0;
    double right = 0.0;
    double bottom = 0.0;
};

struct ChartText {
    enum class Anchor { start, middle, end };
    std::string text;  // as printable() shows it, not yet escaped for XML
    double x = 0.0;    // the anchor point on the baseline
    double y = 0.0;
    Anchor anchor = Anchor::start;
    double size = 12.0;
    bool bold = false;
    bool halo = false;  // a white outline, for text over lines
    const char *colour = "#000";
    ChartBox box;  // the extent of the text, estimated generously from its characters
};

struct ChartLayout {
    double width = 0.0;
    double height = 0.0;
    std::vector<std::string> shapes;  // SVG elements drawn under the texts
    std::vector<ChartText> texts;     // no two boxes overlap
};

ChartLayout layoutChart(const ChartInput &input);
std::string renderSvg(const ChartLayout &layout);

}  // namespace su55if::engine
