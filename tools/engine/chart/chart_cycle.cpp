// The picture of the cycle: the title and notes, a bar per schedule with a
// box per stage, the interaction links as arcs over the first bar, and a
// legend for the stages that the bars cannot label in full.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "engine/chart/chart_draw.h"
#include "engine/cycle.h"
#include "engine/text.h"

namespace su55if::engine::chart {

namespace {

constexpr double kLevelStep = 18.0;   // between the heights of two link arcs
constexpr double kArcBase = 24.0;     // from the bar to the lowest arc
constexpr double kRowStep = 14.0;     // between two rows of stage numbers under a bar
constexpr int kNumberRows = 4;        // rows for the numbers of stages too narrow to hold them
constexpr double kMaxTagShift = 60.0; // how far such a number may sit from its stage
constexpr double kLegendNameWidth = 180.0;

// ---------------------------------------------------------------- links

struct Link : ChartLink {
    double fromX = 0.0;
    double toX = 0.0;
    int level = 0;
};

std::vector<Link> drawableLinks(const std::vector<double> &partners, int count) {
    std::vector<Link> links;
    for (const ChartLink &link : chartLinks(partners, count)) {
        links.push_back(Link{link});
    }
    return links;
}

// Where the links meet the bar: the ends at one stage spread across its box,
// ordered by where their other ends lie, so that arcs cross little.
void placeLinkEnds(std::vector<Link> &links, const std::vector<double> &edges) {
    struct End {
        Link *link;
        bool isFrom;
        double otherCentre;
    };
    std::vector<std::vector<End>> ends(edges.size() - 1);
    auto centre = [&](int stage) {
        const auto k = static_cast<std::size_t>(stage - 1);
        return (edges[k] + edges[k + 1]) / 2.0;
    };
    for (Link &link : links) {
        ends[static_cast<std::size_t>(link.from - 1)].push_back({&link, true, centre(link.to)});
        ends[static_cast<std::size_t>(link.to - 1)].push_back({&link, false, centre(link.from)});
    }
    for (std::size_t k = 0; k < ends.size(); ++k) {
        std::stable_sort(ends[k].begin(), ends[k].end(),
                         [](const End &a, const End &b) { return a.otherCentre < b.otherCentre; });
        for (std::size_t i = 0; i < ends[k].size(); ++i) {
            const double x = edges[k] + (edges[k + 1] - edges[k]) * static_cast<double>(i + 1) /
                                            static_cast<double>(ends[k].size() + 1);
            (ends[k][i].isFrom ? ends[k][i].link->fromX : ends[k][i].link->toX) = x;
        }
    }
}

// Heights for the arcs, shortest spans lowest (equal spans in the links'
// order, whatever the rounding of their ends): an arc takes the lowest level
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
    auto span = [](const Link *link) { return std::round(std::fabs(link->toX - link->fromX) * 1e3); };
    std::stable_sort(order.begin(), order.end(), [&](const Link *a, const Link *b) { return span(a) < span(b); });
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
        // A white ground under the whole label: an outline round each
        // character leaves gaps between them, where the arc shows through.
        const ChartBox &box = label.box;
        out.shape(R"svg(<rect x="{:.2f}" y="{:.2f}" width="{:.2f}" height="{:.2f}" fill="white"/>)svg", box.left,
                  box.top, box.right - box.left, box.bottom - box.top);
        out.place(label);
    }
}

// ---------------------------------------------------------------- cycle bars

struct Bar {
    std::size_t number = 1;  // of the schedule, from 1
    double from = 0.0;  // the time from which these durations are in force
    std::vector<double> durations;
    double cycleDuration = 0.0;  // as the library reported it
    std::vector<double> times;   // where each stage starts, then where the cycle ends
    std::vector<double> edges;   // the same in x: stage k's box spans edges[k] to edges[k + 1]
};

// A bar for every schedule kept to be drawn as one.
std::vector<Bar> barsOf(const ChartSchedules &schedules) {
    std::vector<Bar> bars;
    for (const ChartSchedule &schedule : schedules.bars()) {
        bars.push_back({schedule.number, schedule.from, schedule.durations, schedule.cycleDuration, {}, {}});
    }
    if (bars.empty()) {
        bars.emplace_back();
    }
    return bars;
}

// Each bar's boxes in proportion to its durations, at a scale shared by every
// bar that puts the longest cycle across the plot. A bar spans its cycle
// duration: its last stage ends there, whatever the last bits of the
// durations' sum. A bar whose cycle duration gives no usable scale has equal
// boxes.
void placeBoxes(std::vector<Bar> &bars, double plotWidth) {
    auto usable = [](double cycleDuration) { return cycleDuration > 0.0 && std::isfinite(cycleDuration); };
    double longest = 0.0;
    for (const Bar &bar : bars) {
        if (usable(bar.cycleDuration)) {
            longest = std::max(longest, bar.cycleDuration);
        }
    }
    const double scale = plotWidth / longest;  // not finite when no cycle duration is usable, or too short
    for (Bar &bar : bars) {
        const bool scaled = usable(bar.cycleDuration) && std::isfinite(scale);
        const std::size_t n = bar.durations.size();
        double start = 0.0;
        bar.times = {0.0};
        bar.edges = {kLeft};
        for (std::size_t k = 0; k < n; ++k) {
            const double d = bar.durations[k];
            start += std::isfinite(d) ? std::max(d, 0.0) : 0.0;
            bar.times.push_back(k + 1 == n ? bar.cycleDuration : scaled ? std::min(start, bar.cycleDuration) : start);
            bar.edges.push_back(kLeft + (scaled ? bar.times.back() * scale
                                                : plotWidth * static_cast<double>(k + 1) / static_cast<double>(n)));
        }
    }
}

// The step after `step` in 1, 2, 5, 10, 20, 50, ...
std::size_t roundStepAfter(std::size_t step) {
    std::size_t magnitude = 1;
    while (magnitude * 10 <= step) {
        magnitude *= 10;
    }
    const std::size_t lead = step / magnitude;
    return (lead == 1 ? 2 : lead == 2 ? 5 : 10) * magnitude;
}

// One bar: a box per stage labelled inside where the text fits, the numbers
// of narrow stages under it in staggered rows with leader lines, then the
// start times in a regular pattern. Returns the bottom of what was drawn;
// `complete` turns false when a stage's number, name or duration is not shown.
double drawBar(Builder &out, const Bar &bar, const std::vector<std::string> &names, double top, bool withNames,
               bool &complete) {
    const double height = withNames ? 60.0 : 44.0;
    const double bottom = top + height;
    const std::size_t n = bar.durations.size();
    for (std::size_t k = 0; k < n; ++k) {
        // The full name on hover, however little of it the box shows.
        const std::string name = k < names.size() && !names[k].empty() ? " " + printable(names[k]) : "";
        out.shape(R"svg(<rect x="{:.2f}" y="{:.2f}" width="{:.2f}" height="{}" fill="{}" stroke="#555" )svg"
                  R"svg(stroke-width="0.6"><title>{}</title></rect>)svg",
                  bar.edges[k], top, bar.edges[k + 1] - bar.edges[k], height, stageColour(static_cast<int>(k) + 1),
                  xmlEscaped(fmt::format("stage {}{}: duration {}", k + 1, name, readable(bar.durations[k]))));
    }
    std::vector<std::size_t> narrow;
    for (std::size_t k = 0; k < n; ++k) {
        const double centre = (bar.edges[k] + bar.edges[k + 1]) / 2.0;
        const double room = bar.edges[k + 1] - bar.edges[k] - 4.0;
        auto inside = [&](const std::string &raw, double y, double size, bool bold) {
            const ChartText t = Builder::text(raw, centre, y, Anchor::middle, size, bold);
            return t.box.right - t.box.left <= room && out.tryPlace(t);
        };
        if (!inside(fmt::format("{}", k + 1), top + 18.0, 12.0, true)) {
            narrow.push_back(k);
        }
        if (withNames && k < names.size() && !names[k].empty()) {
            // A name cut to fewer than three characters is left to the legend.
            const std::string full = printable(names[k]);
            const std::string shown = truncated(full, 11.0, false, room);
            const auto characters = std::count_if(shown.begin(), shown.end(), [](char c) {
                return (static_cast<unsigned char>(c) & 0xC0u) != 0x80u;
            });
            const bool readable = shown == full || characters >= 4;
            if (!readable || !inside(shown, top + 34.0, 11.0, false) || shown != full) {
                complete = false;
            }
        }
        if (!inside(readable(bar.durations[k]), top + height - 9.0, 12.0, false)) {
            complete = false;
        }
    }

    // Start times under the bar, over the leader lines of the numbers below:
    // the cycle's start and end before those numbers, beside the bar's ends,
    // clear of the numbers of its first and last stages.
    auto startTime = [&](std::size_t k, double shift, Anchor anchor) {
        ChartText t = Builder::text(readable(bar.times[k]), bar.edges[k] + shift, bottom + 15.0, anchor, 10.0, false,
                                    "#555");
        t.halo = true;
        return t;
    };
    out.tryPlace(startTime(n, 3.0, Anchor::start));
    out.tryPlace(startTime(0, -3.0, Anchor::end));

    // Numbers of narrow stages on tags in rows under the bar, left to right:
    // each tag in the row that moves it least from its stage, never over a
    // tag or leader line placed before, its leader crossing no text.
    std::vector<double> rowEnds(kNumberRows, 0.0);
    int rowsUsed = 0;
    for (std::size_t k : narrow) {
        const double centre = (bar.edges[k] + bar.edges[k + 1]) / 2.0;
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

    // A tick at every boundary, and the start of every step-th stage, the
    // step the first of 1, 2, 5, 10, 20, ... at which those starts keep
    // clear of each other: a regular pattern rather than whichever happen to
    // fit. Those too near the cycle's start or end give way to them.
    for (double x : bar.edges) {
        out.shape(R"svg(<line x1="{0:.2f}" y1="{1:.2f}" x2="{0:.2f}" y2="{2:.2f}" stroke="#555"/>)svg", x, bottom,
                  bottom + 4.0);
    }
    for (std::size_t step = 1; step <= n; step = roundStepAfter(step)) {
        std::vector<ChartText> starts;
        Builder alone;
        alone.layout.width = out.layout.width;
        bool apart = true;
        for (std::size_t stage = std::max<std::size_t>(step, 2); stage <= n && apart; stage += step) {
            starts.push_back(startTime(stage - 1, 0.0, Anchor::middle));
            apart = alone.tryPlace(starts.back());
        }
        if (apart) {
            for (const ChartText &t : starts) {
                out.tryPlace(t);
            }
            break;
        }
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
            entry += " " + truncated(printable(names[k]), 11.0, false, kLegendNameWidth);
        }
        entry += ":";
        const char *separator = " ";
        double previous = std::nan("");
        for (const Bar &bar : bars) {
            const double d = k < bar.durations.size() ? bar.durations[k] : std::nan("");
            if (!(d == previous)) {
                entry += separator + readable(d);
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

// The title with the cycle's facts, how the run was made, and notes on the
// links and the schedules drawn. Returns the baseline of the last line.
double drawNotes(Builder &out, const ChartInput &input, const std::vector<Bar> &bars, bool withLinks) {
    const double width = out.layout.width;
    const auto title = [&](std::string_view name) {
        return chartTitle(name, bars.front().durations.size(), bars.front().cycleDuration, input.timeUnit);
    };
    const std::string name =
        truncated(printable(input.title), 16.0, true, width - 40.0 - textWidth(title(""), 16.0, true));
    out.place(Builder::text(title(name), 20.0, 28.0, Anchor::start, 16.0, true));
    double y = 28.0;
    for (const std::string &note : input.notes) {
        y += y == 28.0 ? 20.0 : 18.0;
        out.place(Builder::text(truncated(printable(note), 12.0, false, width - 40.0), 20.0, y, Anchor::start, 12.0,
                                false, "#555"));
    }
    if (withLinks) {
        y += 18.0;
        out.place(Builder::text(fmt::format("Links{}: solid for a positive table entry, dashed for a negative one, the "
                                            "arrowhead at the partner.",
                                            bars.size() > 1 ? " over the first bar" : ""),
                                20.0, y, Anchor::start, 12.0, false, "#555"));
    }
    const std::size_t scheduleCount = input.schedules.count();
    if (scheduleCount > 1) {
        y += 18.0;
        const std::size_t changes = scheduleCount - 1;
        const std::string changed = fmt::format("The durations changed {} during the run",
                                                changes == 1 ? "once" : fmt::format("{} times", changes));
        out.place(Builder::text(
            scheduleCount > bars.size()
                ? fmt::format("{}: the first {} schedules and the last are drawn.", changed, bars.size() - 1)
                : fmt::format("{}: one bar per schedule.", changed),
            20.0, y, Anchor::start, 12.0, false, "#555"));
    }
    return y;
}

}  // namespace

double layoutCycle(Builder &out, const ChartInput &input, double plotWidth) {
    std::vector<Bar> bars = barsOf(input.schedules);
    placeBoxes(bars, plotWidth);
    const std::size_t stageCount = bars.front().durations.size();
    bool withNames = false;
    for (const std::string &name : input.stageNames) {
        withNames = withNames || !name.empty();
    }
    std::vector<Link> links = drawableLinks(input.partners,
                                            static_cast<int>(std::min(input.partners.size(), stageCount)));
    double y = drawNotes(out, input, bars, !links.empty());
    // With several schedules, each bar is headed by its number, the first
    // above its links.
    auto heading = [&](const Bar &bar, double baseline) {
        out.place(Builder::text(fmt::format("Schedule {} from time {}: cycle duration {}", bar.number,
                                            withUnit(bar.from, input.timeUnit), readable(bar.cycleDuration)),
                                kLeft, baseline, Anchor::start, 12.0, true, "#7f4f00"));
    };
    if (bars.size() > 1) {
        y += 26.0;
        heading(bars.front(), y);
    }
    placeLinkEnds(links, bars.front().edges);
    const int levels = assignLevels(links, 11.0);
    double barTop = y + (bars.size() > 1 ? 10.0 : 20.0) + (levels > 0 ? kArcBase + kLevelStep * (levels - 1) + 10.0 : 0.0);

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
            heading(bars[i], barTop - 6.0);
            barTop += 4.0;
        }
        barTop = drawBar(out, bars[i], input.stageNames, barTop, withNames, complete) + 8.0;
    }
    return complete ? barTop : drawLegend(out, bars, input.stageNames, barTop + 4.0, plotWidth) + 10.0;
}

}  // namespace su55if::engine::chart
