// su55if-host as a what-if workbench: timed inputs and events into all nine
// procedures, JSON output, clean channels, the samples of a run and where
// their stages begin, and the messages for runs that cannot be made.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host_process.h"

namespace {

using namespace su55if::test;

const std::string kFourStage = (kExamples / "four-stage.csv").string();

// The CSV as rows of named values, keyed by the time column's text.
std::map<std::string, std::map<std::string, std::string>> csvRows(const std::string &csv) {
    const std::vector<std::string> lines = split(csv, '\n');
    const std::vector<std::string> header = split(lines.at(0), ',');
    std::map<std::string, std::map<std::string, std::string>> rows;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> values = split(lines[i], ',');
        EXPECT_EQ(values.size(), header.size()) << lines[i];
        for (std::size_t k = 0; k < values.size() && k < header.size(); ++k) {
            rows[values[0]][header[k]] = values[k];
        }
    }
    return rows;
}

TEST_F(Host, InputsAndEventsDriveEveryProcedure) {
    // From 50 the change check takes stage 2 as 30 (its switch on); the signal
    // is positive from 50 until 100, when the value passes its limit; at 150
    // an event sets stage 1, and with it its partner 3, to 5.
    file("inputs.csv", "time,check,duration2,signal,value,limit,enable\n"
                       "0,0,20,0,1,5,1\n"
                       "50,1,30,1,1,5,1\n"
                       "100,1,30,0,9,5,1\n");
    file("events.csv", "time,stage,duration\n150,1,5\n");
    const std::vector<std::string> run{"run", kFourStage, "--input-file", "inputs.csv", "--events", "events.csv",
                                       "--stop-time", "200", "--output-interval", "10"};
    const Outcome csv = host(run);
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    EXPECT_EQ(split(csv.out, '\n').at(0),
              "time,stage,elapsed,delayForCode2,delayForCode1,actionCode,flagForCode1,flagForCode2,flagForCodeMinus2,"
              "flagForCodeMinus1,stageDuration,durationsChanged,updateResult,recordedDuration,switchSignal");
    const auto rows = csvRows(csv.out);
    struct Expected {
        const char *time;
        const char *column;
        const char *value;
    };
    const Expected expected[] = {
        {"40", "durationsChanged", "0"}, {"50", "durationsChanged", "1"}, {"60", "durationsChanged", "0"},
        // Stage 2 of the second cycle (80 on) lasts 30: stage 3 begins at 120.
        {"110", "stage", "2"},           {"110", "stageDuration", "30"}, {"120", "stage", "3"},
        {"90", "recordedDuration", "0"}, {"100", "recordedDuration", "40"}, {"200", "recordedDuration", "40"},
        {"90", "switchSignal", "1"},     {"100", "switchSignal", "0"},
        {"140", "updateResult", "0"},    {"150", "updateResult", "2"},   {"160", "updateResult", "0"},
        // Stage 4 (from 130) keeps its start; the new cycle is 5+30+5+40:
        // stage 1 begins at 170, stage 2 at 175.
        {"170", "stage", "1"},           {"170", "stageDuration", "5"},  {"180", "stage", "2"},
    };
    for (const Expected &e : expected) {
        EXPECT_EQ(rows.at(e.time).at(e.column), e.value) << e.column << " at " << e.time;
    }

    // The same run as JSON lines: one object per sample with the same values,
    // and a record of each schedule.
    std::vector<std::string> jsonRun = run;
    jsonRun.insert(jsonRun.end(), {"--format", "json"});
    const Outcome json = host(jsonRun);
    ASSERT_EQ(json.exitCode, 0) << json.err;
    std::vector<std::string> lines;
    for (const std::string &line : split(json.out, '\n')) {
        if (!nlohmann::json::parse(line).contains("record")) {
            lines.push_back(line);
        }
    }
    ASSERT_EQ(lines.size(), rows.size());
    const nlohmann::json last = nlohmann::json::parse(lines.back());
    EXPECT_EQ(last.at("time"), 200);
    EXPECT_EQ(last.at("recordedDuration"), 40);
    EXPECT_EQ(last.size(), 15u);
}

// A row at time 0 or before holds from the first sample: the schedule is
// defined with its durations, and the library checks the links with them.
TEST_F(Host, RowsAtTimeZeroHoldFromTheFirstSample) {
    struct Case {
        const char *inputs;
        int exitCode;
        const char *expected;  // sample 0's stageDuration; with exit code 1, the library's record
    };
    const Case cases[] = {
        {"time,duration1,duration3\n0,2,2\n", 0, "2"},
        {"time,hold,duration1,duration3\n-1,1,3,3\n", 0, "3"},
        // Stage 1 is linked with stage 3, which lasts 10.
        {"time,duration1\n0,2\n", 1, "Interaction stage 1 invalid time match."},
    };
    for (const Case &c : cases) {
        file("inputs.csv", c.inputs);
        const Outcome outcome =
            host({"run", kFourStage, "--input-file", "inputs.csv", "--stop-time", "10", "--output-interval", "5"});
        EXPECT_EQ(outcome.exitCode, c.exitCode) << c.inputs << outcome.err;
        const std::string found = c.exitCode == 0 ? csvRows(outcome.out)["0"]["stageDuration"] : outcome.err;
        EXPECT_NE(found.find(c.expected), std::string::npos) << c.inputs << found;
    }
}

// Linked stages that come to last differently mid-run: the run goes on, as
// the library's does, and the host warns once each time they part.
TEST_F(Host, DriftingLinksAreWarnedOfWhenTheyHappen) {
    file("inputs.csv", "time,duration1\n50,14\n120,10\n150,13\n");
    const std::vector<std::string> run{"-q", "run", kFourStage, "--input-file", "inputs.csv",
                                       "--stop-time", "200", "--output-interval", "10"};
    const Outcome text = host(run);
    EXPECT_EQ(text.exitCode, 0) << text.err;
    const std::vector<std::string> warnings = split(text.err, '\n');
    ASSERT_EQ(warnings.size(), 2U) << text.err;
    EXPECT_EQ(warnings[0].rfind("su55if-host: warning: at time 50, the linked stage 1 (duration 14) and stage 3 "
                                "(duration 10) no longer last the same.", 0), 0U) << warnings[0];
    EXPECT_EQ(warnings[1].rfind("su55if-host: warning: at time 150,", 0), 0U) << warnings[1];

    std::vector<std::string> args = run;
    args.insert(args.end(), {"--format", "json"});
    const Outcome json = host(args);
    std::vector<nlohmann::json> drifts;
    for (const std::string &line : split(json.out, '\n')) {
        const nlohmann::json object = nlohmann::json::parse(line);
        if (object.contains("warning")) {
            drifts.push_back(object);
        }
    }
    ASSERT_EQ(drifts.size(), 2U) << json.out;
    EXPECT_EQ(drifts[0]["time"], 50);
    EXPECT_EQ(drifts[0]["stage"], 1);
    EXPECT_EQ(drifts[0]["partner"], 3);
    EXPECT_EQ(drifts[1]["duration"], 13);
}

// Inputs that part linked stages again and again: the first warnings about
// each pair, then one count per pair at the end.
TEST_F(Host, DriftWarningsAreBoundedPerPair) {
    // Stages 1 and 2, 3 and 4 linked; stages 1 and 3 set to 10 and 11 in
    // turn part both pairs at 1, 3, 5, 7 and 9.
    std::string inputs = "time,duration1,duration3\n";
    for (int time = 0; time < 10; ++time) {
        const std::string duration = std::to_string(10 + time % 2);
        inputs += std::to_string(time) + "," + duration + "," + duration + "\n";
    }
    file("pairs.csv", "stage,duration,partner\n1,10,2\n2,10,1\n3,10,4\n4,10,3\n");
    file("flap.csv", inputs);
    const Outcome outcome =
        host({"-q", "run", "pairs.csv", "--input-file", "flap.csv", "--stop-time", "9", "--output-interval", "1"});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    const std::vector<std::string> lines = split(outcome.err, '\n');
    ASSERT_EQ(lines.size(), 8U) << outcome.err;
    for (std::size_t k = 0; k < 6; ++k) {
        EXPECT_EQ(lines[k].rfind("su55if-host: warning: at time " + std::to_string(1 + k / 2 * 2) + ", ", 0), 0U)
            << lines[k];
    }
    EXPECT_EQ(lines[6], "su55if-host: warning: the linked stage 1 and stage 2 parted 2 more times, not shown: only "
                        "the first 3 of each pair are.");
    EXPECT_EQ(lines[7].rfind("su55if-host: warning: the linked stage 3 and stage 4 parted 2 more times", 0), 0U);
}

TEST_F(Host, DataOnStandardOutputMessagesOnStandardError) {
    Outcome outcome = host({"run", kFourStage, "--chart", "c.svg"});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(csvRows(outcome.out).size(), 321u);
    EXPECT_EQ(outcome.err, "su55if-host: wrote the chart to c.svg\n");
    outcome = host({"--quiet", "run", kFourStage, "--chart", "c.svg"});
    EXPECT_EQ(outcome.err, "");

    // A reader that stops early ends a long run quietly, with exit 0.
    outcome = runProgram("/bin/bash",
                         {"-c", "\"$0\" run \"$1\" --stop-time 1e12 | head -1; exit ${PIPESTATUS[0]}",
                          kHost.string(), kFourStage},
                         dir_);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "time,stage,elapsed,delayForCode2,delayForCode1,actionCode,flagForCode1,flagForCode2,"
                           "flagForCodeMinus2,flagForCodeMinus1\n");
    EXPECT_EQ(outcome.err, "");
}

TEST_F(Host, CheckReportsAsJson) {
    Outcome outcome = host({"check", (kExamples / "faulty.csv").string(), "--format", "json"});
    EXPECT_EQ(outcome.exitCode, 1);
    nlohmann::json report = nlohmann::json::parse(outcome.out);
    EXPECT_EQ(report.at("verdict"), "rejected");
    EXPECT_EQ(report.at("records"),
              (nlohmann::json{"Interaction stage 1 invalid time match.", "Simulation Terminated"}));
    EXPECT_EQ(report.at("stages").size(), 4u);
    EXPECT_EQ(report.at("stages").at(2).at("duration"), 15);
    EXPECT_EQ(report.at("links").at(0).at("partner"), 3);
    EXPECT_NE(report.at("explanation").at(1).get<std::string>().find("same duration, 10 or 15"), std::string::npos);
    EXPECT_EQ(report.at("explained"), (nlohmann::json{1, 3}));

    outcome = host({"check", kFourStage, "--format", "json"});
    EXPECT_EQ(outcome.exitCode, 0);
    report = nlohmann::json::parse(outcome.out);
    EXPECT_EQ(report.at("verdict"), "accepted");
    EXPECT_EQ(report.at("cycleDuration"), 80);
    EXPECT_TRUE(report.at("records").empty());
}

TEST_F(Host, NoSampleAfterTheStopTime) {
    const Outcome outcome = host({"run", kFourStage, "--stop-time", "9.9999999995", "--output-interval", "1"});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    const std::vector<std::string> lines = split(outcome.out, '\n');
    ASSERT_EQ(lines.size(), 11u);  // the header and 0 to 9
    EXPECT_EQ(lines.back().substr(0, 2), "9,");
}

// Each sample's stage and elapsed time against exact rational arithmetic:
// every duration and time is a double, so all are whole multiples of 2^-60
// here, and 128-bit integers hold their sums over the run. Two runs: many
// stage changes, and many cycles in each step (where adding durations up
// put 27 of the samples in the wrong stage). SU55IF_HOST_LONG_STOP sets the
// first run's stop time (1e6: 1,428,571 samples over 1.67 million cycles).
TEST_F(Host, StagesMatchExactArithmeticOverALongRun) {
    const char *longStop = std::getenv("SU55IF_HOST_LONG_STOP");
    file("cycle.csv", "stage,duration\n1,0.1\n2,0.2\n3,0.3\n");
    __extension__ typedef __int128 Exact;
    const auto exact = [](double value) { return static_cast<Exact>(std::ldexp(value, 60)); };
    const Exact durations[] = {exact(0.1), exact(0.2), exact(0.3)};
    const Exact cycle = durations[0] + durations[1] + durations[2];
    const std::pair<std::string, std::string> runs[] = {{longStop != nullptr ? longStop : "20000", "0.7000003"},
                                                        {"1e8", "7000.003"}};
    for (const auto &[stop, interval] : runs) {
        const Outcome outcome =
            host({"run", "cycle.csv", "--stop-time", stop, "--output-interval", interval, "--output-file", "out.csv"});
        ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
        std::size_t samples = 0;
        std::size_t wrong = 0;
        const std::vector<std::string> lines = split(readFile(dir_ / "out.csv"), '\n');
        for (std::size_t i = 1; i < lines.size(); ++i) {
            const std::vector<std::string> values = split(lines[i], ',');
            const double time = std::strtod(values.at(0).c_str(), nullptr);
            Exact within = exact(time) % cycle;
            int stage = 1;
            while (stage < 3 && within >= durations[stage - 1]) {
                within -= durations[stage - 1];
                ++stage;
            }
            const double elapsed = std::strtod(values.at(2).c_str(), nullptr);
            const double error = std::fabs(std::ldexp(static_cast<double>(exact(elapsed) - within), -60));
            const double ulp = std::nextafter(time, HUGE_VAL) - time;
            if (std::stoi(values.at(1)) != stage || error > 4.0 * ulp) {
                ++wrong;
            }
            ++samples;
        }
        EXPECT_EQ(samples, static_cast<std::size_t>(std::stod(stop) / std::stod(interval)) + 1) << stop;
        EXPECT_EQ(wrong, 0u) << "of " << samples << " samples up to " << stop;
    }
}

TEST_F(Host, RunsThatCannotBeMadeSayWhy) {
    file("huge.csv", "stage,duration\n1,1e308\n2,1e308\n");
    file("largest.csv", "stage,duration\n1,1.7976931348623157e308\n");
    file("events.csv", "time,stage,duration\n10,5,1\n");
    file("bad-column.csv", "time,colour\n0,1\n");
    file("bad-duration.csv", "time,duration1\n0,10\n20,-1\n");
    file("zeros.csv", "time,duration1,duration2,duration3,duration4\n5,0,0,0,0\n");
    file("overflow.csv", "time,duration2,duration4\n0,1e308,1e308\n");
    file("half.csv", "time,duration2,duration4\n0,0,0\n");
    file("half-events.csv", "time,stage,duration\n20,1,0\n");
    file("held.csv", "time,hold,duration1,duration2,duration3,duration4\n5,1,0,0,0,0\n10,0,,,,\n");
    file("late.csv", "time,hold\n0,0\n50,0\n100,x\n");
    struct Case {
        std::vector<std::string> args;
        std::string message;
        std::string absent;  // must not appear
        std::size_t written = 0;  // a run's lines on standard output before the fault: header and samples
    };
    const Case cases[] = {
        {{"check", "huge.csv"}, "cycle duration overflows to infinity", ""},
        {{"run", "huge.csv"}, "cycle duration overflows to infinity", "--stop-time"},
        {{"run", "huge.csv", "--stop-time", "10"}, "cycle duration overflows to infinity", ""},
        {{"run", "largest.csv"}, "two cycles, the default stop time, overflow", "--output-interval"},
        {{"run", kFourStage, "--stop-time", "1e300", "--output-interval", "1e290"}, "more than 4503599627370496 cycles",
         ""},
        {{"run", kFourStage, "--events", "events.csv"}, "events.csv:2:4: stage \"5\" is not a stage of the cycle", ""},
        {{"run", kFourStage, "--input-file", "bad-column.csv"}, "colour", ""},
        {{"run", kFourStage, "--input-file", "bad-duration.csv"}, "bad-duration.csv:3:4: duration1 \"-1\" is not", ""},
        // Durations no cycle can be made of: the row or event that set them,
        // and the time they took effect (samples 0.5 apart).
        {{"run", kFourStage, "--input-file", "zeros.csv"},
         ": zeros.csv:2: at time 5, the stage durations add up to 0: a cycle must last longer than 0", "", 11},
        {{"run", kFourStage, "--input-file", "overflow.csv"},
         ": overflow.csv:2: at time 0, the stage durations add up to more than the largest number", "", 0},
        {{"run", kFourStage, "--input-file", "half.csv", "--events", "half-events.csv"},
         ": half-events.csv:2: at time 20, the stage durations add up to 0", "", 41},
        {{"run", kFourStage, "--input-file", "held.csv"},
         ": held.csv:2: at time 10, the stage durations add up to 0", "", 21},
        // Rows are read as the run goes: a fault in the last one ends the run
        // after the samples before it.
        {{"run", kFourStage, "--input-file", "late.csv", "--stop-time", "200", "--output-interval", "10"},
         ": late.csv:4:5: hold \"x\" is not a number", "", 6},
    };
    for (const Case &c : cases) {
        const Outcome outcome = host(c.args);
        EXPECT_EQ(outcome.exitCode, 2) << c.message;
        EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
        if (c.args.front() == "run") {
            EXPECT_EQ(split(outcome.out, '\n').size(), c.written) << c.message;
        }
        if (!c.absent.empty()) {
            EXPECT_EQ(outcome.err.find(c.absent), std::string::npos) << outcome.err;
        }
    }
}

}  // namespace
