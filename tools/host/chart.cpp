#include "chart.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>

namespace su55if::host {

namespace {

constexpr double kWidth = 960.0;
constexpr double kLeft = 70.0;
constexpr double kRight = 30.0;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kBarTop = 170.0;
constexpr double kBarHeight = 44.0;
constexpr double kCodeTop = 300.0;     // y of action code 2
constexpr double kCodeStep = 32.0;     // pixels per unit of action code
constexpr double kStripHeight = 14.0;  // the stage strip under the code plot
constexpr double kHeight = kCodeTop + 4 * kCodeStep + 100.0;
constexpr int kMaxCycleMarks = 200;    // more cycle boundaries than this are not drawn

constexpr std::array<const char *, 8> kPalette{"#8dd3c7", "#ffffb3", "#bebada", "#fb8072",
                                               "#80b1d3", "#fdb462", "#b3de69", "#fccde5"};

const char *stageColour(int stage) { return kPalette[static_cast<std::size_t>(stage - 1) % kPalette.size()]; }

// The bytes of `text` as valid UTF-8 fit for XML: markup characters as
// entities; control characters, invalid bytes and the two non-characters
// U+FFFE and U+FFFF shown as \xNN, so a chart is well-formed whatever a file
// name or a stage name holds.
std::string escaped(const std::string &text) {
    std::string out;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const auto showBytes = [&](std::size_t from, std::size_t count) {
        for (std::size_t i = from; i < from + count; ++i) {
            out += fmt::format("\\x{:02X}", byte(i));
        }
    };
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = byte(i);
        if (lead < 0x80) {
            switch (lead) {
                case '&': out += "&amp;"; break;
                case '<': out += "&lt;"; break;
                case '>': out += "&gt;"; break;
                case '"': out += "&quot;"; break;
                case '\'': out += "&apos;"; break;
                default:
                    if (lead < 0x20 || lead == 0x7F) {
                        showBytes(i, 1);
                    } else {
                        out += static_cast<char>(lead);
                    }
            }
            ++i;
            continue;
        }
        // A multi-byte sequence: its length from the lead byte, then every
        // continuation byte, the shortest form, and the code point's range.
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        char32_t code = length == 4 ? lead & 0x07u : length == 3 ? lead & 0x0Fu : lead & 0x1Fu;
        bool valid = length != 0 && lead <= 0xF4 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            valid = (byte(i + k) & 0xC0u) == 0x80u;
            code = (code << 6) | (byte(i + k) & 0x3Fu);
        }
        constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
        valid = valid && code >= kShortest[length] && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
        if (!valid) {
            showBytes(i, 1);
            ++i;
        } else if (code < 0xA0 || code == 0xFFFE || code == 0xFFFF) {
            showBytes(i, length);
            i += length;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}

// A tick spacing of 1, 2 or 5 times a power of ten giving about `target` ticks.
double niceStep(double span, int target) {
    const double raw = span / target;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0}) {
        if (m * magnitude >= raw) {
            return m * magnitude;
        }
    }
    return 10.0 * magnitude;
}

// SVG text built one element per line.
class Svg {
public:
    template <typename... Args>
    void add(fmt::format_string<Args...> format, Args &&...args) {
        fmt::format_to(std::back_inserter(text_), format, std::forward<Args>(args)...);
        text_ += '\n';
    }
    std::string take() { return std::move(text_); }

private:
    std::string text_;
};

void label(Svg &svg, double x, double y, const std::string &text, const char *style = "") {
    svg.add(R"svg(<text x="{:.2f}" y="{:.2f}" {}>{}</text>)svg", x, y, style, escaped(text));
}

struct Link {
    int from;
    int to;
    double entry;      // the table entry of `from`
    double backEntry;  // the table entry of `to`
    bool bothWays;     // one arc with a head at each end
    double lift;       // extra height, so that two arcs between one pair stay apart
};

// The links between existing stages; a pair whose entries point at each
// other with the same sign is one arc.
std::vector<Link> drawableLinks(const std::vector<double> &partners) {
    const int count = static_cast<int>(partners.size());
    auto entry = [&](int stage) { return partners[static_cast<std::size_t>(stage - 1)]; };
    std::vector<Link> links;
    for (int stage = 1; stage <= count; ++stage) {
        const double partnerValue = std::fabs(entry(stage));
        if (partnerValue < 1.0 || partnerValue > count || partnerValue == stage) {
            continue;
        }
        const int partner = static_cast<int>(partnerValue);
        const bool mutual = std::fabs(entry(partner)) == stage;
        const bool sameSign = (entry(stage) > 0.0) == (entry(partner) > 0.0);
        if (mutual && sameSign) {
            if (stage < partner) {
                links.push_back({stage, partner, entry(stage), entry(partner), true, 0.0});
            }
        } else {
            const double lift = mutual && stage > partner ? 18.0 : 0.0;
            links.push_back({stage, partner, entry(stage), entry(partner), false, lift});
        }
    }
    return links;
}

// One box per stage along the cycle, in proportion to its duration, with the
// start times under it. Returns the centre of each box.
std::vector<double> drawCycle(Svg &svg, const std::vector<double> &durations, double cycleDuration) {
    const double scale = kPlotWidth / cycleDuration;
    const double under = kBarTop + kBarHeight + 16.0;
    std::vector<double> centres;
    double start = 0.0;
    for (std::size_t k = 0; k < durations.size(); ++k) {
        const int stage = static_cast<int>(k) + 1;
        const double x = kLeft + start * scale;
        const double width = durations[k] * scale;
        centres.push_back(x + width / 2.0);
        svg.add(R"svg(<rect x="{:.2f}" y="{}" width="{:.2f}" height="{}" fill="{}" stroke="#555"/>)svg", x, kBarTop,
                width, kBarHeight, stageColour(stage));
        if (width >= 18.0) {
            label(svg, x + width / 2.0, kBarTop + 19.0, fmt::format("{}", stage),
                  R"svg(text-anchor="middle" font-weight="bold")svg");
        }
        if (width >= 30.0) {
            label(svg, x + width / 2.0, kBarTop + 36.0, fmt::format("{}", durations[k]),
                  R"svg(text-anchor="middle")svg");
        }
        label(svg, x, under, fmt::format("{}", start), R"svg(text-anchor="middle" fill="#555")svg");
        start += durations[k];
    }
    label(svg, kLeft + kPlotWidth, under, fmt::format("{}", cycleDuration),
          R"svg(text-anchor="middle" fill="#555")svg");
    label(svg, kLeft - 8.0, kBarTop + 19.0, "stage", R"svg(text-anchor="end")svg");
    label(svg, kLeft - 8.0, kBarTop + 36.0, "duration", R"svg(text-anchor="end")svg");
    return centres;
}

// Arcs over the cycle: solid for a positive entry, dashed for a negative one,
// the arrowhead at the partner.
void drawLinks(Svg &svg, const std::vector<double> &partners, const std::vector<double> &centres) {
    for (const Link &link : drawableLinks(partners)) {
        const double x1 = centres[static_cast<std::size_t>(link.from - 1)];
        const double x2 = centres[static_cast<std::size_t>(link.to - 1)];
        const double top = kBarTop - std::min(110.0, 24.0 + 0.3 * std::fabs(x2 - x1)) - link.lift;
        svg.add(R"svg(<path d="M{0:.2f},{1} C{0:.2f},{2:.2f} {3:.2f},{2:.2f} {3:.2f},{1}" fill="none" )svg"
                R"svg(stroke="#333" stroke-width="1.5"{4} marker-end="url(#head)"{5}/>)svg",
                x1, kBarTop, top, x2, link.entry < 0.0 ? R"svg( stroke-dasharray="6,4")svg" : "",
                link.bothWays ? R"svg( marker-start="url(#head)")svg" : "");
        const std::string text = link.bothWays
                                     ? fmt::format("{}: {:+}, {}: {:+}", link.from, link.entry, link.to, link.backEntry)
                                     : fmt::format("{}: {:+}", link.from, link.entry);
        // A cubic arc with both control points at `top` peaks 3/4 of the way up.
        label(svg, (x1 + x2) / 2.0, kBarTop + 0.75 * (top - kBarTop) - 4.0, text, R"svg(text-anchor="middle")svg");
    }
    label(svg, kLeft, 48.0,
          "Links: the table entry of each stage; solid for a positive entry, dashed for a negative one, "
          "the arrowhead at the partner.",
          R"svg(fill="#555")svg");
}

// A series as a step path: its value held from each point to the next,
// to the end of the run.
std::string stepPath(const ChartSeries &series, double stopTime, const auto &xAt, const auto &yOf) {
    std::string path;
    for (const auto &[time, value] : series.points) {
        if (path.empty()) {
            fmt::format_to(std::back_inserter(path), "M{:.2f},{:.2f}", xAt(time), yOf(value));
        } else {
            fmt::format_to(std::back_inserter(path), " H{:.2f} V{:.2f}", xAt(time), yOf(value));
        }
    }
    if (!path.empty()) {
        fmt::format_to(std::back_inserter(path), " H{:.2f}", xAt(stopTime));
    }
    return path;
}

// The action code of the stage in force as a step line over the run, the
// cycle boundaries dotted, and a strip of the stages in force under it.
void drawActionCodes(Svg &svg, const ChartInput &input, double cycleDuration) {
    const double stopTime = input.stopTime;
    const double scale = kPlotWidth / stopTime;
    auto xAt = [&](double time) { return kLeft + time * scale; };
    auto yOf = [](double code) { return kCodeTop + (2.0 - code) * kCodeStep; };
    const double bottom = yOf(-2.0);

    label(svg, kLeft, kCodeTop - 24.0, input.subtitle, R"svg(font-size="14" font-weight="bold")svg");
    for (int code = 2; code >= -2; --code) {
        svg.add(R"svg(<line x1="{}" y1="{:.2f}" x2="{}" y2="{:.2f}" stroke="#ddd"/>)svg", kLeft, yOf(code),
                kLeft + kPlotWidth, yOf(code));
        label(svg, kLeft - 8.0, yOf(code) + 4.0, fmt::format("{}", code), R"svg(text-anchor="end")svg");
    }
    if (stopTime / cycleDuration <= kMaxCycleMarks) {
        for (int k = 1; k * cycleDuration < stopTime; ++k) {
            svg.add(R"svg(<line x1="{0:.2f}" y1="{1}" x2="{0:.2f}" y2="{2}" stroke="#999" stroke-dasharray="2,3"/>)svg",
                    xAt(k * cycleDuration), kCodeTop - 8.0, bottom);
        }
    }
    if (!input.codes.empty()) {
        svg.add(R"svg(<path d="{}" fill="none" stroke="#c0392b" stroke-width="2"/>)svg",
                stepPath(input.codes.front(), stopTime, xAt, yOf));
    }

    const double stripTop = bottom + 12.0;
    const auto &stages = input.stages.points;
    for (std::size_t i = 0; i < stages.size(); ++i) {
        const int stage = static_cast<int>(stages[i].second);
        const double end = i + 1 < stages.size() ? stages[i + 1].first : stopTime;
        const double width = (end - stages[i].first) * scale;
        svg.add(R"svg(<rect x="{:.2f}" y="{}" width="{:.2f}" height="{}" fill="{}"/>)svg", xAt(stages[i].first),
                stripTop, width, kStripHeight, stageColour(stage));
        if (width >= 14.0) {
            label(svg, xAt(stages[i].first) + width / 2.0, stripTop + 11.0, fmt::format("{}", stage),
                  R"svg(text-anchor="middle" font-size="10")svg");
        }
    }
    label(svg, kLeft - 8.0, stripTop + 11.0, "stage", R"svg(text-anchor="end")svg");

    const double axisY = stripTop + kStripHeight + 16.0;
    const double step = niceStep(stopTime, 10);
    for (int i = 0; i * step <= stopTime * (1.0 + 1e-12); ++i) {
        label(svg, xAt(i * step), axisY, fmt::format("{:.6g}", i * step), R"svg(text-anchor="middle" fill="#555")svg");
    }
    label(svg, kLeft - 8.0, axisY, "time", R"svg(text-anchor="end")svg");
}

}  // namespace

std::string renderChart(const ChartInput &input) {
    const std::vector<double> &durations = input.schedules.front().second;
    double cycleDuration = 0.0;
    for (double duration : durations) {
        cycleDuration += duration;
    }
    Svg svg;
    svg.add(R"svg(<?xml version="1.0" encoding="UTF-8"?>)svg");
    svg.add(R"svg(<svg xmlns="http://www.w3.org/2000/svg" width="{0}" height="{1}" viewBox="0 0 {0} {1}" )svg"
            R"svg(font-family="sans-serif" font-size="12">)svg",
            kWidth, kHeight);
    svg.add(R"svg(<defs><marker id="head" viewBox="0 0 10 10" refX="9" refY="5" markerWidth="7" )svg"
            R"svg(markerHeight="7" orient="auto-start-reverse"><path d="M0,0 L10,5 L0,10 z" fill="#333"/>)svg"
            R"svg(</marker></defs>)svg");
    svg.add(R"svg(<rect width="100%" height="100%" fill="white"/>)svg");
    label(svg, kLeft, 28.0,
          fmt::format("Cycle {}: {} stages, cycle duration {}", input.title, durations.size(), cycleDuration),
          R"svg(font-size="16" font-weight="bold")svg");

    const std::vector<double> centres = drawCycle(svg, durations, cycleDuration);
    drawLinks(svg, input.partners, centres);
    drawActionCodes(svg, input, cycleDuration);
    svg.add("</svg>");
    return svg.take();
}

}  // namespace su55if::host
