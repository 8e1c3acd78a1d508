// The chart's layout at scale: no two texts overlap, every stage and link is
// named, and the SVG is well-formed XML whatever bytes the names hold.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <string>

#include "engine/chart/chart.h"
#include "engine/chart/chart_recorder.h"
#include "engine/text.h"

namespace {

namespace fs = std::filesystem;
using su55if::engine::ChartInput;
using su55if::engine::ChartSeries;

struct Case {
    const char *name;
    int stages;
    int links;
    bool nested;        // stage k with stage n + 1 - k, every arc over the next
    bool names;
    int scheduleChanges;
};

// A cycle of `stages` stages with `links` pairs and a run of three cycles
// with every output changing at every stage; the same for every call.
ChartInput makeInput(const Case &c) {
    std::mt19937 random(12345);
    auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    const int n = c.stages;
    std::vector<double> durations(static_cast<std::size_t>(n));
    for (double &d : durations) {
        d = std::vector<double>{4, 5, 6, 8, 10, 12, 15, 20, 30}[static_cast<std::size_t>(below(9))];
    }
    std::vector<int> order(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        order[static_cast<std::size_t>(i)] = i;
    }
    for (int i = n - 1; i > 0; --i) {
        std::swap(order[static_cast<std::size_t>(i)], order[static_cast<std::size_t>(below(i + 1))]);
    }
    ChartInput input;
    input.title = "cycle <&>\"'\x01\xff.csv";
    input.timeUnit = "s";
    input.partners.assign(static_cast<std::size_t>(n), 0.0);
    for (int i = 0; i < c.links; ++i) {
        const auto a = static_cast<std::size_t>(c.nested ? i : order[static_cast<std::size_t>(2 * i)]);
        const auto b = static_cast<std::size_t>(c.nested ? n - 1 - i : order[static_cast<std::size_t>(2 * i + 1)]);
        const double sign = i % 4 == 3 ? -1.0 : 1.0;
        input.partners[a] = sign * static_cast<double>(b + 1);
        input.partners[b] = sign * static_cast<double>(a + 1);
        durations[b] = durations[a];
    }
    for (int k = 0; c.names && k < n; ++k) {
        input.stageNames.push_back(k % 5 == 0 ? "north \xce\xb1 through <" + std::to_string(k) + ">" : "bus\x02\xc0");
    }
    double cycle = 0.0;
    for (double d : durations) {
        cycle += d;
    }
    input.stopTime = 3.0 * cycle;
    std::vector<su55if::engine::ChartSchedule> schedules{{0.0, durations, cycle}};
    for (int i = 1; i <= c.scheduleChanges; ++i) {
        durations[static_cast<std::size_t>(i % n)] += 2.0;
        cycle += 2.0;
        schedules.push_back({input.stopTime * i / (c.scheduleChanges + 1), durations, cycle});
    }
    for (const su55if::engine::ChartSchedule &s : schedules) {
        input.schedules.add(s);
    }
    input.stages.name = "stage";
    input.lanes = {{{{"delayForCode1", {}}, {"delayForCode2", {}}}, true, {}},
                   {{{"actionCode", {}}}, false, {{"2", "the partner last began delayForCode2"}, {"0", "no partner"}}},
                   {{{"recorded duration", {}}}, false, {}}};
    std::size_t schedule = 0;
    int k = 0;
    for (double t = 0.0; t < input.stopTime; k = (k + 1) % n) {
        while (schedule + 1 < schedules.size() && schedules[schedule + 1].from <= t) {
            ++schedule;
        }
        const double duration = schedules[schedule].durations[static_cast<std::size_t>(k)];
        input.stages.points.emplace_back(t, k + 1);
        input.lanes[0].series[0].points.emplace_back(t, below(3) == 0 ? below(200) : 0);
        input.lanes[0].series[1].points.emplace_back(t, below(3) == 0 ? below(200) : 0);
        input.lanes[1].series[0].points.emplace_back(t, below(5) - 2);
        input.lanes[2].series[0].points.emplace_back(t, duration);
        t += duration;
    }
    // Linked stages that came apart, now and then over the run.
    for (int i = 1; i <= c.scheduleChanges; ++i) {
        input.drifts.push_back({input.stopTime * i / (c.scheduleChanges + 1), 1, 2});
    }
    return input;
}

bool overlap(const su55if::engine::ChartBox &a, const su55if::engine::ChartBox &b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// xmllint's verdict on `svg`.
bool wellFormed(const std::string &svg) {
    const fs::path path = fs::temp_directory_path() / ("su55if-chart-" + std::to_string(getpid()) + ".svg");
    std::ofstream(path, std::ios::binary) << svg;
    const int status = std::system((std::string(SU55IF_XMLLINT) + " --noout " + path.string()).c_str());
    fs::remove(path);
    return status == 0;
}

const Case kCases[] = {
    {"four stages", 4, 1, false, false, 0},
    {"24 stages, 8 links, names, 8 schedules", 24, 8, false, true, 8},
    {"100 stages, 50 links, names, 3 schedule changes", 100, 50, false, true, 3},
    {"100 stages, 50 nested links", 100, 50, true, false, 0},
};

TEST(ChartLayout, NoTwoTextsOverlapAndEveryStageAndLinkIsNamed) {
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.name);
        const ChartInput input = makeInput(c);
        const su55if::engine::ChartLayout layout = su55if::engine::layoutChart(input);
        std::set<std::string> texts, boldTexts;  // stage numbers are bold in and under the bars
        for (std::size_t i = 0; i < layout.texts.size(); ++i) {
            const su55if::engine::ChartBox &box = layout.texts[i].box;
            texts.insert(layout.texts[i].text);
            if (layout.texts[i].bold) {
                boldTexts.insert(layout.texts[i].text);
            }
            EXPECT_TRUE(box.left >= 0.0 && box.top >= 0.0 && box.right <= layout.width && box.bottom <= layout.height)
                << '"' << layout.texts[i].text << "\" outside the chart";
            for (std::size_t j = 0; j < i; ++j) {
                EXPECT_FALSE(overlap(box, layout.texts[j].box))
                    << '"' << layout.texts[i].text << "\" over \"" << layout.texts[j].text << '"';
            }
        }
        EXPECT_EQ(input.drifts.empty(), !texts.count("links apart"));
        for (int k = 1; k <= c.stages; ++k) {
            EXPECT_TRUE(boldTexts.count(std::to_string(k))) << "stage " << k << " not named";
            const int partner = static_cast<int>(std::fabs(input.partners[static_cast<std::size_t>(k - 1)]));
            if (partner > k) {
                EXPECT_TRUE(texts.count(std::to_string(k) + "↔" + std::to_string(partner))) << "link of " << k;
            }
        }
        EXPECT_TRUE(wellFormed(su55if::engine::renderSvg(layout)));
    }
}

TEST(ChartLayout, TextIsEscapedForXmlAndMadeValidUtf8) {
    const struct {
        const char *raw;
        const char *shown;
    } cases[] = {
        {"a<b>&\"'", "a&lt;b&gt;&amp;&quot;&apos;"},
        {"tab\tnew\nline", "tab\\tnew\\nline"},
        {"\x7f\xff", "\\x7F\\xFF"},
        {"\xc0\xaf", "\\xC0\\xAF"},              // an overlong '/'
        {"\xed\xa0\x80", "\\xED\\xA0\\x80"},     // a surrogate
        {"\xef\xbf\xbe\xef\xbf\xbf", "\\xEF\\xBF\\xBE\\xEF\\xBF\\xBF"},  // U+FFFE, U+FFFF
        {"\xc2\x85", "\\xC2\\x85"},              // a C1 control
        {"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},  // above U+10FFFF
        {"caf\xc3\xa9 \xf0\x9f\x9a\xa6 \xe2\x80\xb0", "caf\xc3\xa9 \xf0\x9f\x9a\xa6 \xe2\x80\xb0"},
        // Bidirectional controls: an override, an isolate, a mark, the Arabic letter mark.
        {"\xe2\x80\xaeR\xe2\x81\xa7L\xe2\x80\x8f\xd8\x9c", "\\xE2\\x80\\xAER\\xE2\\x81\\xA7L\\xE2\\x80\\x8F\\xD8\\x9C"},
        {"cut \xe2\x82", "cut \\xE2\\x82"},
    };
    for (const auto &c : cases) {
        ChartInput input = makeInput(kCases[0]);
        input.title = c.raw;
        input.stageNames = {c.raw};
        const std::string svg = su55if::engine::renderChart(input);
        EXPECT_NE(svg.find(std::string(">Cycle ") + c.shown + ":"), std::string::npos) << c.shown;
        EXPECT_TRUE(wellFormed(svg)) << c.shown;
    }
}

TEST(ChartLayout, ReadsPartnersAsTheLibraryDoes) {
    ChartInput input = makeInput(kCases[0]);
    input.partners = {2.6, 0.0, 0.6, 0.4};  // 1 and 3 linked both ways, 4 links nowhere
    std::set<std::string> texts;
    for (const su55if::engine::ChartText &text : su55if::engine::layoutChart(input).texts) {
        texts.insert(text.text);
    }
    EXPECT_TRUE(texts.count("1↔3"));
    EXPECT_EQ(texts.count("1↔2"), 0u);
}

// The cycle durations shown are those the library reported, and each bar
// ends there at the scale of every bar. They differ from the sums of the
// durations here, so that a chart adding the durations up itself fails.
TEST(ChartLayout, ShowsTheCycleDurationsTheLibraryReported) {
    ChartInput input;
    input.title = "t";
    input.schedules.add({0.0, {10.0, 20.0}, 40.0});
    input.schedules.add({500.0, {10.0, 25.0}, 45.0});
    input.stopTime = 1000.0;  // time ticks 100 apart
    std::map<std::string, double> x;  // the anchor of each text, the first of equal texts
    for (const su55if::engine::ChartText &text : su55if::engine::layoutChart(input).texts) {
        x.emplace(text.text, text.x);
    }
    EXPECT_TRUE(x.count("Cycle t: 2 stages, cycle duration 40"));
    EXPECT_TRUE(x.count("Schedule 2 from time 500: cycle duration 45"));
    EXPECT_EQ(x.count("30") + x.count("35"), 0u);
    ASSERT_TRUE(x.count("0") && x.count("40") && x.count("45"));
    // The start time 3 left of the bars' start, their ends 3 right of theirs.
    const double start = x["0"] + 3.0;
    EXPECT_NEAR((x["40"] - 3.0 - start) / (x["45"] - 3.0 - start), 40.0 / 45.0, 1e-9);
}

TEST(ChartLayout, AnyValueGivesAWellFormedChartWithFiniteCoordinates) {
    const double inf = INFINITY;
    const double nan = std::nan("");
    ChartInput hostile;
    hostile.partners = {nan, 1e300, -2.0, 1.0, -inf, 6.0};
    hostile.stages = {"stage", {{0.0, 1.0}, {nan, 1e9}, {5.0, -3.0}, {1.0, nan}, {inf, 2.0}}};
    hostile.lanes = {{{{"delayForCode1", {{0.0, 1e20}, {1.0, 1e20 + 1.0}, {2.0, -1e308}, {3.0, 1e308}}}}, true, {}},
                     {{{"actionCode", {{0.0, nan}, {1.0, inf}, {2.0, -inf}}}}, false, {{"\x01<", "&"}}},
                     {{{"tiny", {{0.0, 5e-324}, {1.0, 0.0}}}}, false, {}}};
    const std::pair<double, double> windows[] = {{0.0, nan},      {0.0, 0.0},       {0.0, 5e-324},
                                                 {0.0, 1e308},    {0.0, inf},       {nan, 1.0},
                                                 {-1e308, 1e308}, {1e308, inf},     {2.0, 1.0}};
    for (const auto &[startTime, stopTime] : windows) {
        for (ChartInput input : {ChartInput{}, hostile}) {
            input.startTime = startTime;
            input.stopTime = stopTime;
            if (!input.stages.points.empty()) {
                // The last cycle duration is too short for a finite scale; the first is the stop time.
                input.schedules.add({0.0, {nan, -5.0, 1e308, 1e308, inf, 0.0}, stopTime});
                input.schedules.add({nan, {}, nan});
                input.schedules.add({inf, {1.0}, 5e-324});
            }
            const std::string svg = su55if::engine::renderChart(input);
            EXPECT_TRUE(wellFormed(svg)) << startTime << " to " << stopTime;
            EXPECT_FALSE(std::regex_search(svg, std::regex(R"(="[^"]*(nan|inf))"))) << startTime << " to " << stopTime;
        }
    }
}

TEST(ChartLayout, SizeFollowsTheWidthNotTheLengthOfTheRun) {
    ChartInput input = makeInput(kCases[0]);
    input.stopTime = 1e6;
    for (ChartSeries *series : {&input.stages, &input.lanes[0].series[0], &input.lanes[1].series[0]}) {
        series->points.clear();
        for (int i = 0; i < 1'000'000; ++i) {
            series->points.emplace_back(i, series == &input.stages ? i % 4 + 1 : i % 3);
        }
    }
    EXPECT_LT(su55if::engine::renderChart(input).size(), 300'000u);
}

// A run fed sample by sample keeps of each column only what the chart draws,
// and draws it as it would draw every change: short stages among long ones,
// values that only a column's extremes or its first fraction hold, thousands
// of schedules; over the whole run or a window of it, where the last sample
// before the window holds into it.
TEST(ChartLayout, ARunReducedToItsColumnsDrawsTheSameChart) {
    const int samples = 400'000;  // 232 to a column of half a pixel
    for (const auto &[from, to] : {std::pair{0, samples}, std::pair{123'457, 234'567}}) {
        SCOPED_TRACE(from);
        ChartInput full = makeInput(kCases[0]);
        full.startTime = from;
        full.stopTime = to;
        ChartSeries *fullSeries[] = {&full.stages, &full.lanes[0].series[0], &full.lanes[0].series[1],
                                     &full.lanes[1].series[0], &full.lanes[2].series[0]};
        for (ChartSeries *series : fullSeries) {
            series->points.clear();
        }
        const su55if::engine::ChartSchedule first = full.schedules.bars().front();
        full.schedules = su55if::engine::ChartSchedules(from, to);
        full.schedules.add(first);
        for (int i = 1; i < 3000; ++i) {
            full.schedules.add({i * 100.0, {4.0, 5.0, 6.0, 8.0 + i}, 23.0 + i});
        }
        ChartInput reduced = full;
        ChartSeries *reducedSeries[] = {&reduced.stages, &reduced.lanes[0].series[0], &reduced.lanes[0].series[1],
                                        &reduced.lanes[1].series[0], &reduced.lanes[2].series[0]};
        const su55if::engine::ChartTimeAxis axis(from, to, su55if::engine::chartPlotWidth(4));
        // Each in the middle of a column where 0 and 1 alternate: the lanes' ranges and their edges.
        const std::map<int, double> rare[] = {{{150'000, 0.5}, {250'000, 0.5}},
                                              {{150'000, INFINITY}, {150'001, 7.0}, {150'002, -INFINITY},
                                               {150'003, -7.0}, {200'000, -9.0}}};
        std::mt19937 random(7);
        const double values[] = {0.0, 1.0, 2.5, -3.0, 40.0};
        int stage = 1;
        for (int i = 0; i < samples; ++i) {
            // Stages of 60 samples (0.13 pixels), but stage 2 of about 3000 (6 pixels).
            if (i % 60 == 0 && (stage != 2 || random() % 50 == 0)) {
                stage = stage % 4 + 1;
            }
            const double sample[] = {static_cast<double>(stage), values[random() % 5], values[random() % 3],
                                     rare[0].count(i) ? rare[0].at(i) : i % 2,
                                     rare[1].count(i) ? rare[1].at(i) : i % 2};
            for (std::size_t k = 0; k < std::size(sample); ++k) {
                auto &points = fullSeries[k]->points;
                if (i < from) {
                    points.clear();
                }
                if (i <= to && (points.empty() || points.back().second != sample[k])) {
                    points.emplace_back(i, sample[k]);
                }
                su55if::engine::addSample(*reducedSeries[k], axis, i, sample[k]);
            }
        }
        EXPECT_EQ(su55if::engine::renderChart(reduced), su55if::engine::renderChart(full));
        // Seven points at most for each half pixel of the plot.
        for (const ChartSeries *series : reducedSeries) {
            EXPECT_LE(series->points.size(), 7u * (2u * 860u + 1u)) << series->name;
        }
        EXPECT_LE(reduced.schedules.bars().size() + reduced.schedules.changes().size(), 300u);
        EXPECT_EQ(reduced.schedules.count(), 3000u);
    }
}

// The start times under a bar: all of them where they have room, else those
// of every step-th stage for a round step (but those next to the cycle's
// start and end), never a scattering of whichever fit; rounded for reading
// (0.1 + 0.2 is shown as 0.3).
TEST(ChartLayout, StartTimesFollowARegularPattern) {
    std::vector<double> forty;
    for (std::size_t k = 0; k < 40; ++k) {
        forty.push_back(k == 39 ? 0.5 : std::vector<double>{0.5, 0.7, 1.0, 1.5, 2.0, 3.0}[(k * k + 3 * k) % 6]);
    }
    const struct {
        const char *name;
        std::vector<double> durations;
        std::size_t largestStep;
    } cases[] = {
        {"tight", {0.1, 0.2, 1.0, 0.5, 2.0, 0.7, 1.5, 0.5}, 1},
        {"40 tight stages", forty, 5},
        {"100 stages", makeInput(kCases[3]).schedules.bars().front().durations, 10},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ChartInput input;
        std::vector<std::string> starts{"0"};
        double start = 0.0;
        for (double d : c.durations) {
            start += d;
            starts.push_back(su55if::engine::readable(start));
        }
        input.schedules.add({0.0, c.durations, start});
        input.stopTime = start;
        std::set<std::string> shown;
        for (const su55if::engine::ChartText &t : su55if::engine::layoutChart(input).texts) {
            if (t.size == 10.0 && std::string(t.colour) == "#555") {
                shown.insert(t.text);
            }
        }
        const std::size_t n = c.durations.size();
        std::size_t step = 0;
        for (std::size_t s : {1u, 2u, 5u, 10u, 20u, 50u, 100u}) {
            std::set<std::string> pattern{starts.front(), starts.back()};
            for (std::size_t stage = std::max<std::size_t>(s, 2); stage <= n; stage += s) {
                pattern.insert(starts[stage - 1]);
            }
            if (std::includes(pattern.begin(), pattern.end(), shown.begin(), shown.end()) &&
                shown.size() + 2 >= pattern.size()) {
                step = s;
                break;
            }
        }
        EXPECT_TRUE(step > 0 && step <= c.largestStep) << step << ", " << shown.size() << " shown";
    }
}

// Bars and the marks of changes over the run carry the same numbers, and
// the lanes with a key have it under the chart.
TEST(ChartLayout, NumbersTheSchedulesAndExplainsTheCodes) {
    const ChartInput input = makeInput(kCases[1]);
    std::set<std::string> texts, marks;
    for (const su55if::engine::ChartText &t : su55if::engine::layoutChart(input).texts) {
        texts.insert(t.text);
        if (t.bold && t.size == 10.0 && std::string(t.colour) == "#7f4f00") {
            marks.insert(t.text);
        }
    }
    EXPECT_EQ(marks, (std::set<std::string>{"2", "3", "4", "5", "6", "7", "8", "9"}));
    for (const su55if::engine::ChartSchedule &bar : input.schedules.bars()) {
        EXPECT_TRUE(texts.count(fmt::format("Schedule {} from time {} s: cycle duration {}", bar.number,
                                            su55if::engine::readable(bar.from), su55if::engine::readable(bar.cycleDuration))))
            << bar.number;
    }
    for (const auto &[values, meaning] : input.lanes[1].key) {
        EXPECT_TRUE(texts.count(values) && texts.count(meaning)) << meaning;
    }
}

TEST(ChartWindow, IsTheRunOrItsFirstCyclesUnlessGivenWithinTheRun) {
    const su55if::engine::RunSettings settings{500'000.0, 0.5, 1'000'000};
    const std::optional<double> none;
    const struct {
        std::optional<double> from, to;
        double cycle;
        double wantFrom, wantTo;
        const char *noteOrError;  // "": no note
    } cases[] = {
        {none, none, 20'000.0, 0.0, 500'000.0, ""},  // 25 cycles
        {none, none, 2.0, 0.0, 20.0, "Charted: the first 10 of the run's 250,000 cycles, to time 20 s;"},
        {1000.0, 1030.0, 2.0, 1000.0, 1030.0, "Charted from time 1000 to 1030 s of a run to 500000 s."},
        {none, 0.5, 2.0, 0.0, 0.5, "Charted from time 0 to 0.5 s"},
        {499'999.75, none, 2.0, 499'999.75, 500'000.0, "Charted from time 499999.75"},
        {-1.0, none, 2.0, 0, 0, "--chart-from -1 lies outside the run, which goes from 0 to 500000"},
        {none, 500'000.25, 2.0, 0, 0, "--chart-to 500000.25 lies outside the run"},
        {30.0, 20.0, 2.0, 0, 0, "--chart-from 30 must be before --chart-to 20"},
        {500'000.0, none, 2.0, 0, 0, "--chart-from 500000 must be before the run's last sample, at 500000"},
        {none, 0.0, 2.0, 0, 0, "--chart-to 0 must be after the run's start, 0"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.noteOrError);
        try {
            const su55if::engine::ChartWindow window = su55if::engine::chartWindow(c.from, c.to, settings, c.cycle, "s");
            EXPECT_EQ(window.from, c.wantFrom);
            EXPECT_EQ(window.to, c.wantTo);
            EXPECT_EQ(window.note.find(c.noteOrError), 0u) << window.note;
            EXPECT_EQ(window.note.empty(), *c.noteOrError == '\0');
        } catch (const su55if::engine::Error &error) {
            EXPECT_EQ(std::string(error.what()).find(c.noteOrError), 0u) << error.what();
            EXPECT_EQ(c.wantTo, 0.0) << "refused: " << error.what();
        }
    }
}

}  // namespace
