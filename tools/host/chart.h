// An SVG picture of a run: the cycle as a bar of stages with the interaction
// links between partners, and under it what the library computed over time.
//
// The chart is drawn from change points only, so that a run of any length
// feeds it without keeping its samples: every series holds the times at
// which its value changed, and a value holds until the next point.
#pragma once

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

struct ChartInput {
    std::string title;                     // e.g. the cycle file's name: any bytes
    std::string subtitle;                  // how the run was made (procedures, output interval); may be empty
    std::string timeUnit;                  // a label only; empty: none
    std::vector<std::string> stageNames;   // stage k in element k - 1; "" or missing: the number only
    std::vector<double> partners;          // interaction-table entries, as the cycle file gives them
    std::vector<ChartSchedule> schedules;  // as the durations change; the first from time 0
    ChartSeries stages;                    // the stage in force over time
    std::vector<ChartSeries> spans;        // delayForCode1, delayForCode2 over time
    std::vector<ChartSeries> codes;        // the action code and the other step outputs over time
    double stopTime = 0.0;
};

// The whole SVG document. Every text is shown as printable() shows it, and
// escaped for XML.
std::string renderChart(const ChartInput &input);

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
