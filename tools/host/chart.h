// An SVG picture of a run: the cycle as a bar of stages with the interaction
// links between partners, and under it what the library computed over time.
//
// The chart is drawn from change points, at the resolution of the chart:
// every series holds times at which its value changed, a value holding until
// the next point, and a run feeds it through addSample, which keeps only
// what the chart draws, so that a run of any length takes the same memory.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace su55if::host {

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
};

// The schedules of a run as the chart draws them: the first ones and the
// last as bars, the first changes as marks, and how many there were, so
// that a run whose durations change at every sample keeps no more.
class ChartSchedules {
public:
    // The next schedule of the run; the first is in force from time 0.
    void add(const ChartSchedule &schedule);

    const std::vector<ChartSchedule> &bars() const { return bars_; }  // the first ones and the last
    const std::vector<double> &changes() const { return changes_; }   // when the first changes came
    std::size_t count() const { return count_; }                      // of every schedule added

private:
    std::vector<ChartSchedule> bars_;
    std::vector<double> changes_;
    std::size_t count_ = 0;
};

struct ChartInput {
    std::string title;                     // e.g. the cycle file's name: any bytes
    std::string subtitle;                  // how the run was made (procedures, output interval); may be empty
    std::string timeUnit;                  // a label only; empty: none
    std::vector<std::string> stageNames;   // stage k in element k - 1; "" or missing: the number only
    std::vector<double> partners;          // interaction-table entries, as the cycle file gives them
    ChartSchedules schedules;              // as the durations change
    ChartSeries stages;                    // the stage in force over time
    std::vector<ChartSeries> spans;        // delayForCode1, delayForCode2 over time
    std::vector<ChartSeries> codes;        // the action code and the other step outputs over time
    double stopTime = 0.0;
};

// The whole SVG document. Every text is shown as printable() shows it, and
// escaped for XML.
std::string renderChart(const ChartInput &input);

// The width of the plot, which the bars and the time axis span, for a cycle
// of `stageCount` stages.
double chartPlotWidth(std::size_t stageCount);

// Where the times of a run ending at `runStop` fall across the plot.
struct ChartTimeAxis {
    // A stop time that gives no usable scale is taken as 1.
    ChartTimeAxis(double runStop, double plotWidth);

    // A time that is not a number is drawn at the start, as a time before it.
    double x(double time) const;
    // x to the half pixel: the points of a series in one column are drawn as
    // one step.
    double column(double time) const;

    double stopTime;
    double scale;  // pixels per unit of time
};

// Appends the sample (time, value) to `series` if its value changed, then
// keeps of the column it falls in only the points that the chart draws: the
// first and the last, those with the lowest and the highest value, finite or
// not, and the first value that is not a whole number, which decides the
// ticks of its lane. A value that is not a number is not drawn, and not kept.
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

}  // namespace su55if::host
