#include "chart.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <limits>
#include <optional>

#include "text.h"

namespace su55if::host {

namespace {

constexpr double kLeft = 100.0;  // room for the names of rows and the values of ticks
constexpr double kRight = 60.0;
constexpr double kMinPlotWidth = 860.0;
constexpr double kMaxPlotWidth = 1800.0;
constexpr double kPlotWidthPerStage = 18.0;

constexpr double kLevelStep = 18.0;   // between the heights of two link arcs
constexpr double kArcBase = 24.0;     // from the bar to the lowest arc
constexpr double kRowStep = 14.0;     // between two rows of stage numbers under a bar
constexpr int kNumberRows = 4;        // rows for the numbers of stages too narrow to hold them
constexpr double kMaxTagShift = 60.0; // how far such a number may sit from its stage
constexpr std::size_t kMaxBars = 6;   // schedules drawn as bars; the rest are counted
constexpr int kMaxTicks = 40;         // on any axis
constexpr int kMaxMarks = 200;        // cycle starts and schedule changes marked over the run
constexpr double kLegendNameWidth = 180.0;

constexpr std::array<const char *, 8> kPalette{"#8dd3c7", "#ffffb3", "#bebada", "#fb8072",
                                               "#80b1d3", "#fdb462", "#b3de69", "#fccde5"};
constexpr std::array<const char *, 4> kLineColours{"#c0392b", "#2ca02c", "#8e44ad", "#8c564b"};

const char *stageColour(int stage) {
    return kPalette[stage > 0 ? static_cast<std::size_t>(stage - 1) % kPalette.size() : 0];
}

// ---------------------------------------------------------------- text

// `raw` as valid UTF-8 that XML admits: control characters, invalid bytes and
// the non-characters U+FFFE and U+FFFF shown as \xNN, so that a chart is
// well-formed whatever a file name or a stage name holds.
std::string displayText(const std::string &raw) {
    std::string out;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(raw[i]); };
    const auto showBytes = [&](std::size_t from, std::size_t count) {
        for (std::size_t i = from; i < from + count; ++i) {
            out += fmt::format("\\x{:02X}", byte(i));
        }
    };
    std::size_t i = 0;
    while (i < raw.size()) {
        const unsigned char lead = byte(i);
        if (lead < 0x80) {
            if (lead < 0x20 || lead == 0x7F) {
                showBytes(i, 1);
            } else {
                out += static_cast<char>(lead);
            }
            ++i;
            continue;
        }
        const std::size_t length = utf8Length(std::string_view(raw).substr(i));
        const std::string_view sequence = std::string_view(raw).substr(i, length);
        // U+0080 to U+009F (controls) and the non-characters U+FFFE, U+FFFF.
        const bool shownAsBytes = (length == 2 && lead == 0xC2 && byte(i + 1) < 0xA0) ||
                                  sequence == "\xEF\xBF\xBE" || sequence == "\xEF\xBF\xBF";
        if (length == 0) {
            showBytes(i, 1);
            ++i;
        } else if (shownAsBytes) {
            showBytes(i, length);
            i += length;
        } else {
            out.append(raw, i, length);
            i += length;
        }
    }
    return out;
}

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

// The advance of one character in em, at least that of a common sans-serif
// face, so that a box estimated from it holds the drawn text.
double charWidth(unsigned char c) {
    if (c >= 0x80) {
        return 1.0;  // a character beyond ASCII, counted once at its lead byte
    }
    if (c == 'm' || c == 'w' || c == 'M' || c == 'W' || c == '@' || c == '%' || c == '&') {
        return 1.0;
    }
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')) {
        return 0.66;
    }
    if (c >= 'A' && c <= 'Z') {
        return 0.8;
    }
    if (c == '#' || c == '+' || c == '<' || c == '=' || c == '>' || c == '^' || c == '~') {
        return 0.84;
    }
    return c == ' ' ? 0.34 : 0.66;
}

double textWidth(const std::string &text, double size, bool bold) {
    double ems = 0.0;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0u) != 0x80u) {
            ems += charWidth(byte);
        }
    }
    return ems * size * (bold ? 1.12 : 1.0);
}

// `text` cut at a character boundary, with an ellipsis, to fit `width`.
std::string truncated(const std::string &text, double size, bool bold, double width) {
    if (textWidth(text, size, bold) <= width) {
        return text;
    }
    std::string cut = text;
    while (!cut.empty() && textWidth(cut + "…", size, bold) > width) {
        do {
            cut.pop_back();
        } while (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xC0u) == 0x80u);
        if (!cut.empty() && static_cast<unsigned char>(cut.back()) >= 0xC0u) {
            cut.pop_back();  // the lead byte of the character just cut
        }
    }
    return cut + "…";
}

std::string number(double value) { return fmt::format("{:.6g}", value); }

// A tick spacing of 1, 2 or 5 times a power of ten giving about `target` ticks.
double niceStep(double span, double target) {
    const double raw = span / std::max(target, 1.0);
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0}) {
        if (m * magnitude >= raw) {
            return m * magnitude;
        }
    }
    return 10.0 * magnitude;
}

bool overlap(const ChartBox &a, const ChartBox &b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

struct Segment {
    double x1, y1, x2, y2;
};

// Whether a line segment passes through a box: the segment clipped to the
// box's slabs in x and in y leaves a part (Liang and Barsky).
bool crosses(const Segment &s, const ChartBox &box) {
    double from = 0.0;
    double to = 1.0;
    auto clip = [&](double start, double delta, double low, double high) {
        if (delta == 0.0) {
            return start > low && start < high;
        }
        double a = (low - start) / delta;
        double b = (high - start) / delta;
        if (a > b) {
            std::swap(a, b);
        }
        from = std::max(from, a);
        to = std::min(to, b);
        return from < to;
    };
    return clip(s.x1, s.x2 - s.x1, box.left, box.right) && clip(s.y1, s.y2 - s.y1, box.top, box.bottom);
}

// ---------------------------------------------------------------- placement

// The layout being built: shapes, texts, and what a new text may not cover
// (the texts placed so far, and lines that must stay readable).
class Builder {
public:
    ChartLayout layout;

    template <typename... Args>
    void shape(fmt::format_string<Args...> format, Args &&...args) {
        layout.shapes.push_back(fmt::format(format, std::forward<Args>(args)...));
    }

    // A text from raw bytes, its box estimated: the ascent above the
    // baseline, the descent under it.
    static ChartText text(const std::string &raw, double x, double y, ChartText::Anchor anchor = ChartText::Anchor::start,
                          double size = 12.0, bool bold = false, const char *colour = "#000") {
        ChartText t;
        t.text = displayText(raw);
        t.x = x;
        t.y = y;
        t.anchor = anchor;
        t.size = size;
        t.bold = bold;
        t.colour = colour;
        const double width = textWidth(t.text, size, bold);
        const double left = anchor == ChartText::Anchor::start    ? x
                            : anchor == ChartText::Anchor::middle ? x - width / 2.0
                                                                  : x - width;
        t.box = {left, y - 0.95 * size, left + width, y + 0.25 * size};
        return t;
    }

    // Whether a box lies within the chart's width and keeps a small gap to
    // everything placed.
    bool fits(const ChartBox &box) const {
        const ChartBox padded{box.left - kGap, box.top - kGap / 2.0, box.right + kGap, box.bottom + kGap / 2.0};
        return box.left >= 0.0 && box.right <= layout.width &&
               std::none_of(obstacles_.begin(), obstacles_.end(), [&](const ChartBox &o) { return overlap(padded, o); }) &&
               std::none_of(lines_.begin(), lines_.end(), [&](const Segment &l) { return crosses(l, padded); });
    }

    // Whether a line keeps clear of every text placed.
    bool fits(const Segment &line) const {
        return std::none_of(layout.texts.begin(), layout.texts.end(),
                            [&](const ChartText &t) { return crosses(line, t.box); });
    }

    // Places a text only where it comes near nothing placed before.
    bool tryPlace(const ChartText &t) {
        if (!fits(t.box)) {
            return false;
        }
        place(t);
        return true;
    }

    // Places a text whose room the layout has set aside.
    void place(const ChartText &t) {
        obstacles_.push_back(t.box);
        layout.texts.push_back(t);
    }

    // A line that texts placed later keep clear of.
    void block(const Segment &line) { lines_.push_back(line); }

private:
    static constexpr double kGap = 3.0;
    std::vector<ChartBox> obstacles_;
    std::vector<Segment> lines_;
};

using Anchor = ChartText::Anchor;

// ---------------------------------------------------------------- links

struct Link {
    int from;
    int to;
    bool bothWays;   // one arc with a head at each end
    bool negative;   // the entry of `from` is negative
    std::string label;
    double fromX = 0.0;
    double toX = 0.0;
    int level = 0;
};

// The links between existing stages, each partner read as the library reads
// it (the entry's magnitude rounded to the nearest whole number); a pair whose
// entries point at each other with the same sign is one arc.
std::vector<Link> drawableLinks(const std::vector<double> &partners, int count) {
    auto entry = [&](int stage) { return partners[static_cast<std::size_t>(stage - 1)]; };
    auto partnerOf = [&](int stage) {
        const double magnitude = std::fabs(entry(stage));
        return magnitude < count + 0.5 ? static_cast<int>(std::floor(magnitude + 0.5)) : 0;
    };
    std::vector<Link> links;
    for (int stage = 1; stage <= count; ++stage) {
        const int partner = partnerOf(stage);
        if (partner == 0 || partner == stage) {
            continue;
        }
        const bool mutual = partnerOf(partner) == stage;
        const bool sameSign = (entry(stage) > 0.0) == (entry(partner) > 0.0);
        const bool negative = entry(stage) < 0.0;
        if (mutual && sameSign) {
            if (stage < partner) {
                links.push_back({stage, partner, true, negative, fmt::format("{}↔{}", stage, partner)});
            }
        } else {
            links.push_back({stage, partner, false, negative, fmt::format("{}→{}", stage, partner)});
        }
    }
    return links;
}

// Where the links meet the bar: the ends at one stage spread across its box,
// ordered by where their other ends lie, so that arcs cross little.
void placeLinkEnds(std::vector<Link> &links, const std::vector<double> &lefts, const std::vector<double> &widths) {
    struct End {
        Link *link;
        bool isFrom;
        double otherCentre;
    };
    std::vector<std::vector<End>> ends(lefts.size());
    auto centre = [&](int stage) {
        const auto k = static_cast<std::size_t>(stage - 1);
        return lefts[k] + widths[k] / 2.0;
    };
    for (Link &link : links) {
        ends[static_cast<std::size_t>(link.from - 1)].push_back({&link, true, centre(link.to)});
        ends[static_cast<std::size_t>(link.to - 1)].push_back({&link, false, centre(link.from)});
    }
    for (std::size_t k = 0; k < ends.size(); ++k) {
        std::stable_sort(ends[k].begin(), ends[k].end(),
                         [](const End &a, const End &b) { return a.otherCentre < b.otherCentre; });
        for (std::size_t i = 0; i < ends[k].size(); ++i) {
            const double x = lefts[k] + widths[k] * static_cast<double>(i + 1) / static_cast<double>(ends[k].size() + 1);
            (ends[k][i].isFrom ? ends[k][i].link->fromX : ends[k][i].link->toX) = x;
        }
    }
}

// Heights for the arcs, shortest spans lowest: an arc takes the lowest level
// at which neither its span nor its label meets another arc's, and at which
// its legs cross no label of a lower arc. Returns the number of levels.
int assignLevels(std::vector<Link> &links, double labelSize) {
    struct Taken {
        double from, to;            // the span with the label, and a gap
        double labelFrom, labelTo;  // the label alone
    };
    std::vector<Link *> order;
    for (Link &link : links) {
        order.push_back(&link);
    }
    std::stable_sort(order.begin(), order.end(), [](const Link *a, const Link *b) {
        return std::fabs(a->toX - a->fromX) < std::fabs(b->toX - b->fromX);
    });
    std::vector<std::vector<Taken>> levels;
    for (Link *link : order) {
        const double a = std::min(link->fromX, link->toX);
        const double b = std::max(link->fromX, link->toX);
        const double half = textWidth(link->label, labelSize, false) / 2.0 + 2.0;
        const double mid = (a + b) / 2.0;
        const Taken mine{std::min(a, mid - half) - 4.0, std::max(b, mid + half) + 4.0, mid - half, mid + half};
        std::size_t level = 0;
        for (;; ++level) {
            if (level == levels.size()) {
                levels.emplace_back();
                break;
            }
            const bool spanFree = std::none_of(levels[level].begin(), levels[level].end(), [&](const Taken &t) {
                return mine.from < t.to && t.from < mine.to;
            });
            bool legsClear = true;
            for (std::size_t below = 0; below < level && legsClear; ++below) {
                for (const Taken &t : levels[below]) {
                    if ((a >= t.labelFrom && a <= t.labelTo) || (b >= t.labelFrom && b <= t.labelTo)) {
                        legsClear = false;
                        break;
                    }
                }
            }
            if (spanFree && legsClear) {
                break;
            }
        }
        levels[level].push_back(mine);
        link->level = static_cast<int>(level);
    }
    return static_cast<int>(levels.size());
}

void drawLinks(Builder &out, const std::vector<Link> &links, double barTop) {
    constexpr double kLabelSize = 11.0;
    for (const Link &link : links) {
        const double y = barTop - kArcBase - kLevelStep * link.level;
        const double x1 = link.fromX;
        const double x2 = link.toX;
        const double side = x2 > x1 ? 1.0 : -1.0;
        const double r = std::min(6.0, std::fabs(x2 - x1) / 2.0);
        out.shape(R"svg(<path d="M{0:.2f},{1:.2f} V{2:.2f} Q{0:.2f},{3:.2f} {4:.2f},{3:.2f} H{5:.2f} )svg"
                  R"svg(Q{6:.2f},{3:.2f} {6:.2f},{2:.2f} V{1:.2f}" fill="none" stroke="#333" stroke-width="1.3"{7} )svg"
                  R"svg(marker-end="url(#head)"{8}/>)svg",
                  x1, barTop, y + r, y, x1 + side * r, x2 - side * r, x2,
                  link.negative ? R"svg( stroke-dasharray="5,3")svg" : "",
                  link.bothWays ? R"svg( marker-start="url(#head)")svg" : "");
    }
    // The labels after every arc, so that no arc is drawn over one.
    for (const Link &link : links) {
        const double y = barTop - kArcBase - kLevelStep * link.level;
        ChartText label = Builder::text(link.label, (link.fromX + link.toX) / 2.0, y + 4.0, Anchor::middle, kLabelSize);
        label.halo = true;
        out.place(label);
    }
}

// ---------------------------------------------------------------- cycle bars

struct Bar {
    double from = 0.0;  // the time from which these durations are in force
    std::vector<double> durations;
    double cycleDuration = 0.0;
    std::vector<double> lefts, widths;  // of each stage's box
};

double cycleDurationOf(const std::vector<double> &durations) {
    double sum = 0.0;
    for (double d : durations) {
        sum += std::isfinite(d) ? std::max(d, 0.0) : 0.0;
    }
    return sum;
}

// Boxes in proportion to the durations, at a scale shared by every bar; equal
// boxes when the durations give no usable scale.
void placeBoxes(Bar &bar, double scale, double plotWidth) {
    const std::size_t n = bar.durations.size();
    double x = kLeft;
    for (double d : bar.durations) {
        const double width = scale > 0.0 ? (std::isfinite(d) ? std::max(d, 0.0) : 0.0) * scale
                                         : plotWidth / static_cast<double>(std::max<std::size_t>(n, 1));
        bar.lefts.push_back(x);
        bar.widths.push_back(width);
        x += width;
    }
}

// One bar: a box per stage labelled inside where the text fits, the numbers
// of narrow stages under it in staggered rows with leader lines, then the
// start times where they find room. Returns the bottom of what was drawn;
// `complete` turns false when a stage's number, name or duration is not shown.
double drawBar(Builder &out, const Bar &bar, const std::vector<std::string> &names, double top, bool withNames,
               bool &complete) {
    const double height = withNames ? 60.0 : 44.0;
    const double bottom = top + height;
    const std::size_t n = bar.durations.size();
    for (std::size_t k = 0; k < n; ++k) {
        out.shape(R"svg(<rect x="{:.2f}" y="{:.2f}" width="{:.2f}" height="{}" fill="{}" stroke="#555" )svg"
                  R"svg(stroke-width="0.6"/>)svg",
                  bar.lefts[k], top, bar.widths[k], height, stageColour(static_cast<int>(k) + 1));
    }
    std::vector<std::size_t> narrow;
    for (std::size_t k = 0; k < n; ++k) {
        const double centre = bar.lefts[k] + bar.widths[k] / 2.0;
        const double room = bar.widths[k] - 4.0;
        auto inside = [&](const std::string &raw, double y, double size, bool bold) {
            const ChartText t = Builder::text(raw, centre, y, Anchor::middle, size, bold);
            return t.box.right - t.box.left <= room && out.tryPlace(t);
        };
        if (!inside(fmt::format("{}", k + 1), top + 18.0, 12.0, true)) {
            narrow.push_back(k);
        }
        if (withNames && k < names.size() && !names[k].empty()) {
            // A name cut to fewer than three characters is left to the legend.
            const std::string full = displayText(names[k]);
            const std::string shown = truncated(full, 11.0, false, room);
            const auto characters = std::count_if(shown.begin(), shown.end(), [](char c) {
                return (static_cast<unsigned char>(c) & 0xC0u) != 0x80u;
            });
            const bool readable = shown == full || characters >= 4;
            if (!readable || !inside(shown, top + 34.0, 11.0, false) || shown != full) {
                complete = false;
            }
        }
        if (!inside(number(bar.durations[k]), top + height - 9.0, 12.0, false)) {
            complete = false;
        }
    }

    // Start times under the bar: the cycle's start and end before the numbers
    // below, every other one after them where it finds room.
    std::vector<std::pair<double, double>> boundaries{{kLeft, 0.0}};  // (x, time)
    double start = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        start += std::isfinite(bar.durations[k]) ? std::max(bar.durations[k], 0.0) : 0.0;
        boundaries.emplace_back(bar.lefts[k] + bar.widths[k], start);
    }
    auto startTime = [&](const std::pair<double, double> &boundary, double shift, Anchor anchor) {
        out.tryPlace(Builder::text(number(boundary.second), boundary.first + shift, bottom + 15.0, anchor, 10.0, false,
                                   "#555"));
    };
    // Beside the bar's ends, clear of the numbers of its first and last stages.
    startTime(boundaries.back(), 3.0, Anchor::start);
    startTime(boundaries.front(), -3.0, Anchor::end);

    // Numbers of narrow stages on tags in rows under the bar, left to right:
    // each tag in the row that moves it least from its stage, never over a
    // tag or leader line placed before, its leader crossing no text.
    std::vector<double> rowEnds(kNumberRows, 0.0);
    int rowsUsed = 0;
    for (std::size_t k : narrow) {
        const double centre = bar.lefts[k] + bar.widths[k] / 2.0;
        std::optional<std::pair<ChartText, Segment>> best;
        int bestRow = 0;
        for (int row = 0; row < kNumberRows; ++row) {
            ChartText t = Builder::text(fmt::format("{}", k + 1), 0.0, bottom + 31.0 + kRowStep * row,
                                        Anchor::middle, 10.0, true);
            const double half = (t.box.right - t.box.left) / 2.0 + 2.0;
            const double x = std::max(centre, rowEnds[static_cast<std::size_t>(row)] + half + 3.0);
            if (x - centre > kMaxTagShift || (best && x - centre >= best->first.x - centre)) {
                continue;
            }
            t = Builder::text(t.text, x, t.y, Anchor::middle, 10.0, true);
            t.box = {x - half, t.box.top - 1.0, x + half, t.box.bottom};
            const Segment leader{centre, bottom, x, t.box.top};
            if (out.fits(t.box) && out.fits(leader)) {
                best.emplace(t, leader);
                bestRow = row;
            }
        }
        if (!best) {
            complete = false;
            continue;
        }
        const auto &[t, leader] = *best;
        out.place(t);
        out.block(leader);
        rowEnds[static_cast<std::size_t>(bestRow)] = t.box.right;
        rowsUsed = std::max(rowsUsed, bestRow + 1);
        out.shape(R"svg(<line x1="{:.2f}" y1="{:.2f}" x2="{:.2f}" y2="{:.2f}" stroke="#777" stroke-width="0.7"/>)svg",
                  leader.x1, leader.y1, leader.x2, leader.y2);
        out.shape(R"svg(<rect x="{:.2f}" y="{:.2f}" width="{:.2f}" height="{:.2f}" rx="2" fill="{}" stroke="#555" )svg"
                  R"svg(stroke-width="0.6"/>)svg",
                  t.box.left, t.box.top, t.box.right - t.box.left, t.box.bottom - t.box.top,
                  stageColour(static_cast<int>(k) + 1));
    }

    // The start times that found room, a tick at every boundary.
    for (const auto &[x, time] : boundaries) {
        out.shape(R"svg(<line x1="{0:.2f}" y1="{1:.2f}" x2="{0:.2f}" y2="{2:.2f}" stroke="#555"/>)svg", x, bottom,
                  bottom + 4.0);
    }
    for (std::size_t k = 1; k + 1 < boundaries.size(); ++k) {
        startTime(boundaries[k], 0.0, Anchor::middle);
    }
    return bottom + 18.0 + kRowStep * rowsUsed + 6.0;
}

// Every stage with its name and durations, in columns, for the stages that
// the bars could not label in full.
double drawLegend(Builder &out, const std::vector<Bar> &bars, const std::vector<std::string> &names, double top,
                  double plotWidth) {
    const std::size_t n = bars.front().durations.size();
    std::vector<std::string> entries;
    double widest = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        std::string entry = fmt::format("{}", k + 1);
        if (k < names.size() && !names[k].empty()) {
            entry += " " + truncated(displayText(names[k]), 11.0, false, kLegendNameWidth);
        }
        entry += ":";
        const char *separator = " ";
        double previous = std::nan("");
        for (const Bar &bar : bars) {
            const double d = k < bar.durations.size() ? bar.durations[k] : std::nan("");
            if (!(d == previous)) {
                entry += separator + number(d);
                separator = " → ";
            }
            previous = d;
        }
        widest = std::max(widest, textWidth(entry, 11.0, false));
        entries.push_back(std::move(entry));
    }
    out.place(Builder::text("Stages", kLeft, top + 12.0, Anchor::start, 12.0, true));
    const double column = widest + 18.0;
    const auto columns = static_cast<std::size_t>(std::max(1.0, std::floor(plotWidth / column)));
    const std::size_t rows = (n + columns - 1) / columns;
    for (std::size_t k = 0; k < n; ++k) {
        const double x = kLeft + column * static_cast<double>(k / rows);
        const double y = top + 30.0 + 15.0 * static_cast<double>(k % rows);
        out.place(Builder::text(entries[k], x, y, Anchor::start, 11.0));
    }
    return top + 30.0 + 15.0 * static_cast<double>(rows);
}

// ---------------------------------------------------------------- over the run

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
        changes.push_back(input.schedules[i].first);
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

// The schedules drawn as bars: all of them, or the first ones and the last.
std::vector<Bar> barsOf(const ChartInput &input) {
    const auto &schedules = input.schedules;
    std::vector<Bar> bars;
    for (std::size_t i = 0; i < schedules.size(); ++i) {
        if (i + 1 < kMaxBars || i + 1 == schedules.size()) {
            bars.push_back({schedules[i].first, schedules[i].second, cycleDurationOf(schedules[i].second), {}, {}});
        }
    }
    if (bars.empty()) {
        bars.emplace_back();
    }
    return bars;
}

}  // namespace

ChartLayout layoutChart(const ChartInput &input) {
    Builder out;
    std::vector<Bar> bars = barsOf(input);
    const std::size_t scheduleCount = input.schedules.size();
    const std::size_t stageCount = bars.front().durations.size();
    const double plotWidth = std::clamp(kPlotWidthPerStage * static_cast<double>(stageCount), kMinPlotWidth,
                                        kMaxPlotWidth);
    const double width = kLeft + plotWidth + kRight;
    out.layout.width = width;
    double longest = 0.0;
    for (const Bar &bar : bars) {
        longest = std::max(longest, bar.cycleDuration);
    }
    const double barScale = longest > 0.0 && std::isfinite(longest) ? plotWidth / longest : 0.0;
    for (Bar &bar : bars) {
        placeBoxes(bar, barScale, plotWidth);
    }
    bool withNames = false;
    for (const std::string &name : input.stageNames) {
        withNames = withNames || !name.empty();
    }

    // Title and notes.
    const std::string unit = input.timeUnit.empty() ? "" : " " + displayText(input.timeUnit);
    const std::string facts = fmt::format(": {} stages, cycle duration {}{}", stageCount,
                                          number(bars.front().cycleDuration), unit);
    const std::string name = truncated(displayText(input.title), 16.0, true,
                                       width - 40.0 - textWidth("Cycle " + facts, 16.0, true));
    out.place(Builder::text("Cycle " + name + facts, 20.0, 28.0, Anchor::start, 16.0, true));
    double y = 28.0;
    if (!input.subtitle.empty()) {
        y += 20.0;
        out.place(Builder::text(truncated(displayText(input.subtitle), 12.0, false, width - 40.0), 20.0, y,
                                Anchor::start, 12.0, false, "#555"));
    }

    std::vector<Link> links = drawableLinks(input.partners,
                                            static_cast<int>(std::min(input.partners.size(), stageCount)));
    if (!links.empty()) {
        y += 18.0;
        out.place(Builder::text(fmt::format("Links{}: solid for a positive table entry, dashed for a negative one, the "
                                            "arrowhead at the partner.",
                                            bars.size() > 1 ? " over the first bar" : ""),
                                20.0, y, Anchor::start, 12.0, false, "#555"));
    }
    if (scheduleCount > 1) {
        y += 18.0;
        const std::size_t changes = scheduleCount - 1;
        const std::string changed =
            fmt::format("The durations changed {} during the run", changes == 1 ? "once" : fmt::format("{} times", changes));
        out.place(Builder::text(
            scheduleCount > bars.size()
                ? fmt::format("{}: the first {} schedules and the last are drawn.", changed, bars.size() - 1)
                : fmt::format("{}: one bar per schedule.", changed),
            20.0, y, Anchor::start, 12.0, false, "#555"));
    }
    placeLinkEnds(links, bars.front().lefts, bars.front().widths);
    const int levels = assignLevels(links, 11.0);
    double barTop = y + 20.0 + (levels > 0 ? kArcBase + kLevelStep * (levels - 1) + 10.0 : 0.0);

    bool complete = true;
    for (std::size_t i = 0; i < bars.size(); ++i) {
        if (i == 0) {
            drawLinks(out, links, barTop);
            out.place(Builder::text("stage", kLeft - 8.0, barTop + 18.0, Anchor::end));
            if (withNames) {
                out.place(Builder::text("name", kLeft - 8.0, barTop + 34.0, Anchor::end, 11.0));
            }
            out.place(Builder::text("duration", kLeft - 8.0, barTop + (withNames ? 51.0 : 35.0), Anchor::end));
        } else {
            barTop += 14.0;
            out.place(Builder::text(fmt::format("From time {}{}: cycle duration {}", number(bars[i].from), unit,
                                                number(bars[i].cycleDuration)),
                                    kLeft, barTop - 6.0, Anchor::start, 12.0, true, "#7f4f00"));
            barTop += 4.0;
        }
        barTop = drawBar(out, bars[i], input.stageNames, barTop, withNames, complete) + 8.0;
    }
    y = barTop;
    if (!complete) {
        y = drawLegend(out, bars, input.stageNames, y + 4.0, plotWidth) + 10.0;
    }

    double stopTime = input.stopTime;
    if (!(stopTime > 0.0 && std::isfinite(stopTime) && std::isfinite(plotWidth / stopTime))) {
        stopTime = 1.0;
    }
    const TimeAxis axis{stopTime, plotWidth / stopTime};
    y = drawRun(out, input, axis, y + 14.0);

    out.layout.width = width;
    out.layout.height = std::ceil(y + 14.0);
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
