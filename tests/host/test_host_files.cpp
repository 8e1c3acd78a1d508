// The files users write to su55if-host: cycle files and timed input files
// read in memory through the host's readers, then the hostile cases end to
// end through the built binary (endless and huge inputs, numbers out of
// range, command-line numbers). test_host_outputs checks how bad values are
// quoted.
#include <signal.h>
#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/cycle.h"
#include "engine/error.h"
#include "host_process.h"
#include "engine/timed_rows.h"

namespace su55if::test {
namespace {

// The message of the Error `read` throws, or "" when it throws none.
template <typename Read>
std::string errorOf(Read read) {
    try {
        read();
    } catch (const su55if::engine::Error &error) {
        return error.what();
    }
    return "";
}

// A row of a timed table as read.
struct Row {
    std::uint64_t line;
    double time;
    std::vector<double> values;
    bool operator==(const Row &) const = default;
};

std::vector<Row> rowsOf(su55if::engine::TimedRows &rows) {
    std::vector<Row> read;
    while (rows.next()) {
        read.push_back({rows.line(), rows.time(), {}});
        for (std::size_t j = 0; j < rows.columns().size(); ++j) {
            read.back().values.push_back(rows.value(j));
        }
    }
    return read;
}

TEST(HostFileReaders, HeaderInAnyCaseWithOptionalPartnerAndNames) {
    struct Case {
        const char *text;
        std::vector<double> durations;
        std::vector<double> partners;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"STAGE,Duration\n1,10\n2,20\n", {10, 20}, {0, 0}, {"", ""}},
        {"Name,stage,duration,PARTNER\n\"main, north\",1,10,2\n \"say \"\"go\"\"\" ,2,10,1\n", {10, 10}, {2, 1},
         {"main, north", "say \"go\""}},
        // Not UTF-8 from line 2: ÿ as Windows-1252 has it.
        {"stage,duration,name\n1,10,\x1b[31m\xff\n2,20,\n", {10, 20}, {0, 0}, {"\x1b[31m\xc3\xbf", ""}},
    };
    for (const Case &c : cases) {
        const su55if::engine::Cycle cycle = su55if::engine::parseCycle(c.text, "c.csv");
        EXPECT_EQ(cycle.durations, c.durations) << c.text;
        EXPECT_EQ(cycle.partners, c.partners) << c.text;
        EXPECT_EQ(cycle.stageNames, c.names) << c.text;
    }
}

TEST(HostFileReaders, FaultsNameFileLineAndColumn) {
    const std::array<std::string, 2> known{"hold", "signal"};
    const auto cycle = [](const std::string &text) { return errorOf([&] { su55if::engine::parseCycle(text, "c.csv"); }); };
    const auto input = [&](const std::string &text) {
        return errorOf([&] {
            su55if::engine::TimedRows rows(text, "i.csv", known);
            rowsOf(rows);
        });
    };
    struct Case {
        std::string error;
        std::string expected;
    };
    const Case cases[] = {
        {cycle("stage,duration,colour\n"),
         "c.csv:1:16: unknown column \"colour\" (the columns are stage, duration, partner and name)"},
        {cycle("stage;duration;partner\n"), "looks semicolon-separated"},
        {cycle("stage,duration,partner\n1;10;0\n"),
         "c.csv:2:7: too few values: expected 3, as the header on line 1 names; the file looks semicolon-separated"},
        {cycle("stage,duration\n1\t10\n"), "looks tab-separated"},
        {cycle("stage\tduration\tpartner\n"), "\"stage\\tduration\\tpartner\""},
        {cycle("stage\tduration\n"), "looks tab-separated"},
        {cycle("stage,partner\n1,0\n"), "c.csv:1:14: missing column \"duration\""},
        {cycle("stage,duration\n1,1e-400\n"), "c.csv:2:3: duration \"1e-400\" is out of range"},
        {cycle("stage,duration\n1,-1e999\n"), "c.csv:2:3: duration \"-1e999\" is out of range"},
        {cycle("stage,duration\n1,0x10\n"), "c.csv:2:3: duration \"0x10\" is not a number"},
        {cycle("stage,duration,name\n1,2,\"open\n"), "c.csv:2:5: the quote that begins here is not closed"},
        {cycle("stage,duration\n1,\"2\"x\n"), "c.csv:2:6: a comma must follow the closing quote"},
        {input(""), "i.csv:1: the file is empty"},
        {errorOf([] {
             const std::array<std::string, 4> counted{"hold", "duration1", "duration2", "duration3"};
             su55if::engine::TimedRows("time,duration4\n", "i.csv", counted);
         }),
         "(the columns are time, hold and duration1 to duration3)"},
        {input("hold,time\n"), "i.csv:1:1: the first column must be time"},
        {input("time,valve\n"), "i.csv:1:6: unknown column \"valve\" (the columns are time, hold and signal)"},
        {input("Time,HOLD,hold\n"), "i.csv:1:11: column \"hold\" appears twice"},
        {input("time,hold\n0,1\n5,0\n4,1\n"), "i.csv:4:1: time \"4\" is earlier than the row above's (5)"},
        {input("time,hold,signal\n0,,1\n"), "i.csv:2:3: missing value for hold: an empty cell holds the value"},
        {input("time,hold\n0,1,\n"), "i.csv:2:5: too many values"},
        {input("time,hold\n0\n"), "i.csv:2:2: too few values"},
        {input("time,hold\n0,nan\n"), "i.csv:2:3: hold \"nan\" is not a finite number"},
    };
    for (const Case &c : cases) {
        EXPECT_NE(c.error.find(c.expected), std::string::npos) << c.expected << "\n  got: " << c.error;
    }
}

TEST(HostFileReaders, ValuesHoldAndEmptyCellsKeepTheRowAbove) {
    const std::array<std::string, 3> known{"hold", "signal", "value"};
    su55if::engine::TimedRows rows("# switch\nTIME,Signal,hold\n0,1.5,0\n\n40,,1\n40,-2, \n", "i.csv", known);
    EXPECT_EQ(rows.columns(), (std::vector<std::string>{"signal", "hold"}));
    EXPECT_EQ(rows.columnIndex("hold"), 1U);
    EXPECT_EQ(rows.columnIndex("value"), 2U);
    EXPECT_EQ(rowsOf(rows), (std::vector<Row>{{3, 0, {1.5, 0}}, {5, 40, {1.5, 1}}, {6, 40, {-2, 1}}}));
    su55if::engine::TimedRows empty("time,value\n", "i.csv", known);
    EXPECT_FALSE(empty.next());
}

TEST(HostFileReaders, LinesAndLineCountsAreCapped) {
    const std::string longComment(su55if::engine::kCycleFileLimits.maxLineBytes - 1, 'n');
    std::string manyBlankLines = "stage,duration\n1,1\n";
    manyBlankLines.append(su55if::engine::kCycleFileLimits.maxLines - 2, '\n');
    struct Case {
        std::string text;
        std::string error;  // "" when the file reads
    };
    const Case cases[] = {
        {"stage,duration\n#" + longComment + "\r\n1,2\n", ""},
        {"stage,duration\n#" + longComment + "n\n1,2\n", "c.csv:2: the line is longer than 4096 bytes"},
        {"stage,duration\n1,2" + std::string(100000, ','), "c.csv:2: the line is longer than 4096 bytes"},
        {manyBlankLines, ""},
        {manyBlankLines + "\n", "c.csv:10001: more than 10000 lines (cycle files hold at most 10000); stopped reading"},
    };
    for (const Case &c : cases) {
        const std::string error = errorOf([&] { su55if::engine::parseCycle(c.text, "c.csv"); });
        EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.text.size();
        EXPECT_EQ(error.empty(), c.error.empty()) << error;
    }
}

TEST(HostFileReaders, NumbersReadAlikeEverywhere) {
    struct Case {
        const char *text;
        su55if::engine::NumberFault fault;
        double value;
    };
    using enum su55if::engine::NumberFault;
    const Case cases[] = {
        {"10", none, 10},          {"+3", none, 3},          {"-1", none, -1},          {".5", none, 0.5},
        {"1e3", none, 1000},       {"1e-310", none, 1e-310}, {"", empty, 0},            {"0x10", notNumber, 0},
        {"1,5", decimalComma, 0},  {"1,5,6", notNumber, 0},  {"+-1", notNumber, 0},    {"1 ", notNumber, 0},      {"inf", notFinite, 0},
        {"-NaN", notFinite, 0},    {"1e-400", outOfRange, 0}, {"2e308", outOfRange, 0},
    };
    for (const Case &c : cases) {
        const su55if::engine::ParsedNumber number = su55if::engine::parseNumber(c.text);
        EXPECT_EQ(number.fault, c.fault) << c.text;
        EXPECT_EQ(number.value, c.value) << c.text;
    }
}

// End to end: su55if-host on hostile files stops early, exit 2, naming the
// file on standard error.
class HostileFiles : public Host {
protected:
    // A FIFO named `name` in the scratch directory, fed `head` and then
    // `chunk` over and over until its reader goes away.
    fs::path endlessFifo(const std::string &name, const std::string &head, const std::string &chunk) {
        const fs::path path = dir_ / name;
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
        const pid_t writer = fork();
        if (writer == 0) {
            signal(SIGPIPE, SIG_DFL);
            const int fd = open(path.c_str(), O_WRONLY);
            const std::string block = head + [&] {
                std::string text;
                while (text.size() < 65536) {
                    text += chunk;
                }
                return text;
            }();
            for (std::size_t start = 0; write(fd, block.data() + start, block.size() - start) > 0;
                 start = head.size()) {
            }
            _exit(0);
        }
        writers_.push_back(writer);
        return path;
    }
    void TearDown() override {
        for (const pid_t writer : writers_) {
            kill(writer, SIGKILL);
            waitForExit(writer);
        }
        Host::TearDown();
    }
    std::vector<pid_t> writers_;
};

TEST_F(HostileFiles, EndlessAndHugeInputsStopAtTheCapNamingFileAndLine) {
    struct Case {
        std::string what;
        std::vector<std::string> args;
        std::string message;
    };
    std::string blankLines(100'000, '\n');
    const Case cases[] = {
        {"zeros", {"check", "/dev/zero"}, "/dev/zero:1: the line is longer than 4096 bytes"},
        {"yes", {"check", endlessFifo("yes", "", "stage,duration\n").string()}, ":2:1: stage \"stage\" is not"},
        {"comments", {"run", endlessFifo("hash", "", "#\n").string()}, ":10001: more than 10000 lines"},
        {"commas", {"check", endlessFifo("commas", "stage,duration\n1,2", ",").string()},
         ":2: the line is longer than 4096 bytes"},
        {"blank lines then a bad value", {"check", file("blank.csv", blankLines + "x\n").string()},
         "blank.csv:10001: more than 10000 lines"},
    };
    for (const Case &c : cases) {
        const Outcome outcome = host(c.args);
        EXPECT_EQ(outcome.exitCode, 2) << c.what;
        EXPECT_NE(outcome.err.find(c.message), std::string::npos) << c.what << ": " << outcome.err;
        EXPECT_EQ(outcome.out, "") << c.what;
    }
}

TEST_F(HostileFiles, NumbersOutOfRangeAndNumberSyntaxAlikeInFilesAndOnTheCommandLine) {
    const std::string fourStage = (kExamples / "four-stage.csv").string();
    struct Case {
        std::string what;
        std::vector<std::string> args;
        std::string message;  // all of standard error after the file name, if any
    };
    const Case cases[] = {
        {"underflow", {"check", file("tiny.csv", "stage,duration\n1,1e-400\n")},
         ":2:3: duration \"1e-400\" is out of range: a number other than 0 must lie between 4.9e-324 and "
         "1.8e308 in magnitude"},
        {"hex in a file", {"check", file("hex.csv", "stage,duration\n1,0x10\n")},
         ":2:3: duration \"0x10\" is not a number"},
        {"hex on the command line", {"run", fourStage, "--stop-time", "0x10"}, "--stop-time \"0x10\" is not a number"},
        {"overflow on the command line", {"run", fourStage, "--output-interval", "1e999"},
         "--output-interval \"1e999\" is out of range: a number other than 0 must lie between 4.9e-324 and 1.8e308 in "
         "magnitude"},
    };
    for (const Case &c : cases) {
        const Outcome outcome = host(c.args);
        EXPECT_EQ(outcome.exitCode, 2) << c.what;
        const std::string file = c.message.starts_with(":") ? c.args[1] : "";
        EXPECT_EQ(outcome.err, "su55if-host: " + file + c.message + "\n") << c.what;
    }
}

}  // namespace
}  // namespace su55if::test
