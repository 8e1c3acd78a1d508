// su55if-host end to end: the built binary run in a scratch directory, its
// exit code, standard output, standard error and files checked.
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "host_process.h"

namespace {

using namespace su55if::test;

// The CSV timeline as rows of values keyed by the time column's text.
std::map<std::string, std::vector<std::string>> rowsByTime(const std::string &csv, std::string &header) {
    std::vector<std::string> lines = split(csv, '\n');
    header = lines.empty() ? "" : lines.front();
    std::map<std::string, std::vector<std::string>> rows;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string> values = split(lines[i], ',');
        rows[values.at(0)] = std::vector<std::string>(values.begin() + 1, values.end());
    }
    return rows;
}

// Four-stage cycle 10, 20, 10, 40 (stages start at 0, 10, 30, 40; cycle 80),
// table 3, 0, 1, 0. Stage 1 and its later partner 3: l = 30, w = 50, so code
// -1 until time passes 50, then 1 with span 50; stage 3 and its earlier
// partner 1: code 2 with span 30; stages 2 and 4 have no partner.
struct ExpectedRow {
    std::string time;
    std::vector<std::string> values;  // stage, elapsed, the three timing outputs, the indicators
};

TEST_F(Host, FourStageTimelineMatchesHandComputedValues) {
    const Outcome outcome = host({"run", (kExamples / "four-stage.csv").string(), "--output-file", "out.csv"});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    std::string header;
    const auto rows = rowsByTime(readFile(dir_ / "out.csv"), header);
    EXPECT_EQ(header,
              "time,stage,elapsed,delayForCode2,delayForCode1,actionCode,flagForCode1,flagForCode2,"
              "flagForCodeMinus2,flagForCodeMinus1");
    EXPECT_EQ(rows.size(), 321u);  // two cycles (160) every 10/20 = 0.5
    const ExpectedRow expected[] = {
        {"0", {"1", "0", "0", "0", "-1", "0", "0", "0", "1"}},
        {"9.5", {"1", "9.5", "0", "0", "-1", "0", "0", "0", "1"}},
        {"10", {"2", "0", "0", "0", "0", "0", "0", "0", "0"}},
        {"35", {"3", "5", "30", "0", "2", "0", "1", "0", "0"}},
        {"45.5", {"4", "5.5", "0", "0", "0", "0", "0", "0", "0"}},
        {"80", {"1", "0", "0", "50", "1", "1", "0", "0", "0"}},
        {"85", {"1", "5", "0", "50", "1", "1", "0", "0", "0"}},
        {"119.5", {"3", "9.5", "30", "0", "2", "0", "1", "0", "0"}},
        {"160", {"1", "0", "0", "50", "1", "1", "0", "0", "0"}},
    };
    for (const ExpectedRow &row : expected) {
        ASSERT_TRUE(rows.contains(row.time)) << row.time;
        EXPECT_EQ(rows.at(row.time), row.values) << "time " << row.time;
    }
}

TEST_F(Host, TwinAndOptionsChangeTheTimeline) {
    // The twin never reports -1: a later positive partner gives code 1 at once.
    Outcome outcome = host({"run", (kExamples / "four-stage.csv").string(), "--twin", "--stop-time", "20",
                            "--output-interval", "5"});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.out,
              "time,stage,elapsed,delayForCode2,delayForCode1,actionCode,flagForCode1,flagForCode2,flagForCodeMinus2\n"
              "0,1,0,0,0,1,1,0,0\n5,1,5,0,0,1,1,0,0\n10,2,0,0,0,0,0,0,0\n15,2,5,0,0,0,0,0,0\n20,2,10,0,0,0,0,0,0\n");

    // Negative links 1 <-> 4 in 10, 20, 15, 10, 20 (cycle 75): stage 1's later
    // partner began w = 30 back, code -2 until time passes 30; stage 4's
    // earlier partner began l = 45 back, code 1 in the second span.
    outcome = host({"run", (kExamples / "negative-links.csv").string(), "--stop-time", "100", "--output-interval",
                    "2.5"});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    std::string header;
    const auto rows = rowsByTime(outcome.out, header);
    EXPECT_EQ(rows.size(), 41u);
    EXPECT_EQ(rows.at("0"), (std::vector<std::string>{"1", "0", "0", "0", "-2", "0", "0", "1", "0"}));
    EXPECT_EQ(rows.at("50"), (std::vector<std::string>{"4", "5", "0", "45", "1", "1", "0", "0", "0"}));
    EXPECT_EQ(rows.at("77.5"), (std::vector<std::string>{"1", "2.5", "30", "0", "2", "0", "1", "0", "0"}));
}

TEST_F(Host, CheckShowsTheLibrarysDiagnosticAndExitsOneOnAFaultyCycle) {
    Outcome outcome = host({"check", (kExamples / "faulty.csv").string()});
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_NE(outcome.out.find("\n  Interaction stage 1 invalid time match.\n  Simulation Terminated\n"),
              std::string::npos)
        << outcome.out;
    // The host names the pair and what would make it valid.
    EXPECT_NE(outcome.out.find("Stage 1 (duration 10) and its partner stage 3 (duration 15)"), std::string::npos)
        << outcome.out;

    outcome = host({"check", (kExamples / "four-stage.csv").string()});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_NE(outcome.out.find("The library accepts the cycle."), std::string::npos);
    EXPECT_EQ(outcome.out.find("Simulation Terminated"), std::string::npos);
}

TEST_F(Host, BadCycleFilesExitTwoNamingFileLineAndColumn) {
    std::string hundredAndOne = "stage,duration,partner\n";
    for (int stage = 1; stage <= 101; ++stage) {
        hundredAndOne += std::to_string(stage) + ",1,0\n";
    }
    struct Case {
        const char *kind;
        std::optional<std::string> content;  // none: the file does not exist
        std::string where;                   // what follows the file name
        std::string message;
    };
    const Case cases[] = {
        {"missing file", std::nullopt, ": cannot open", "No such file"},
        {"empty file", "", ":1: ", "empty"},
        {"comments only", "# nothing yet\n\n", ":1: ", "empty"},
        {"header only", "stage,duration,partner\n", ":1: ", "no stages"},
        {"missing column", "stage,partner\n1,0\n", ":1:14: ", "missing column \"duration\""},
        {"unknown column", "stage,duration,partner,colour\n", ":1:24: ", "unknown column \"colour\""},
        {"repeated column", "stage,duration,stage\n", ":1:16: ", "appears twice"},
        {"non-numeric value", "# c\nstage,duration,partner\n1,10,0\n2, ten,0\n", ":4:4: ", "duration \"ten\" is not a number"},
        {"infinite value", "stage,duration,partner\n1,inf,0\n", ":2:3: ", "not a finite number"},
        {"fractional partner", "stage,duration,partner\n1,10,1.5\n", ":2:6: ", "not a whole number"},
        {"negative duration", "stage,duration,partner\n1,-10,0\n", ":2:3: ", "negative"},
        {"stages out of order", "stage,duration,partner\n1,10,0\n3,10,0\n", ":3:1: ", "expected stage 2"},
        {"first stage not 1", "stage,duration,partner\n0,10,0\n", ":2:1: ", "expected stage 1"},
        {"too few values", "stage,duration,partner\n1,10\n", ":2:5: ", "too few values"},
        {"too many values", "stage,duration,partner\n1,10,0,4\n", ":2:8: ", "too many values"},
        {"more than 100 stages", hundredAndOne, ":102:1: ", "more than 100 stages"},
    };
    for (const Case &c : cases) {
        const fs::path path = dir_ / "cycle.csv";
        fs::remove(path);
        if (c.content) {
            writeFile(path, *c.content);
        }
        const std::vector<std::string> commands[] = {{"check", path.string()},
                                                     {"run", path.string(), "--output-file", "out.csv"}};
        for (const std::vector<std::string> &command : commands) {
            const Outcome outcome = host(command);
            EXPECT_EQ(outcome.exitCode, 2) << c.kind;
            EXPECT_NE(outcome.err.find(path.string() + c.where), std::string::npos) << c.kind << ": " << outcome.err;
            EXPECT_NE(outcome.err.find(c.message), std::string::npos) << c.kind << ": " << outcome.err;
            EXPECT_EQ(outcome.out, "") << c.kind;
        }
    }
    EXPECT_EQ(leftInDirectory(), std::vector<std::string>{"cycle.csv"});
}

TEST_F(Host, CycleFilesMayUseWindowsLineEndingsBlanksAndAnyColumnOrder) {
    const fs::path path = file("cycle.csv", "\xEF\xBB\xBF# made elsewhere\r\npartner , stage,duration\r\n\r\n+3,1,10\r\n"
                                            "0,2,20\r\n 1 ,3, 10\r\n0,4,40\r\n");
    const Outcome outcome = host({"run", path.string(), "--stop-time", "80", "--output-interval", "5"});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    std::string header;
    EXPECT_EQ(rowsByTime(outcome.out, header).at("35"),
              (std::vector<std::string>{"3", "5", "30", "0", "2", "0", "1", "0", "0"}));
}

TEST_F(Host, AFailedRunLeavesNoOutputFileAndKeepsAnOldOne) {
    file("kept.csv", "old\n");
    Outcome outcome = host({"run", (kExamples / "faulty.csv").string(), "--output-file", "kept.csv", "--chart",
                            "chart.svg"});
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_NE(outcome.err.find("invalid time match."), std::string::npos);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(readFile(dir_ / "kept.csv"), "old\n");
    EXPECT_EQ(leftInDirectory(), std::vector<std::string>{"kept.csv"});

    outcome = host({"run", (kExamples / "four-stage.csv").string(), "--output-file", "no/such/dir/out.csv"});
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_NE(outcome.err.find("cannot write no/such/dir/out.csv"), std::string::npos) << outcome.err;
    EXPECT_EQ(leftInDirectory(), std::vector<std::string>{"kept.csv"});
}

TEST_F(Host, ChartIsWellFormedSvg) {
    // The last: a cycle file whose name holds markup, a control character and a byte that is not UTF-8.
    const std::string hostile = file("a<&>\"\x01\xff.csv", readFile(kExamples / "four-stage.csv")).string();
    for (const std::string &example : {(kExamples / "four-stage.csv").string(),
                                       (kExamples / "negative-links.csv").string(), hostile}) {
        const Outcome outcome = host({"run", example, "--chart", "chart.svg", "--twin"});
        ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
        const std::string svg = readFile(dir_ / "chart.svg");
        EXPECT_NE(svg.find("<svg xmlns=\"http://www.w3.org/2000/svg\""), std::string::npos);
        EXPECT_NE(svg.find("marker-end="), std::string::npos) << "no interaction link drawn";
        const std::string lint = std::string(SU55IF_XMLLINT) + " --noout " + (dir_ / "chart.svg").string();
        EXPECT_EQ(std::system(lint.c_str()), 0) << example;
    }
}

TEST_F(Host, BedsChartsAreWellFormedAndDrawEachSchedule) {
    // A stage name with markup, a control character and a byte that is not
    // UTF-8; stages 1 and 3 one shift of two beds apart until stage 2 grows.
    const std::string cycle =
        file("beds.csv", "stage,duration,partner,name\n1,10,3,a<&>\"\x01\xff\n2,10,0,b\n3,10,1,c\n4,10,0,d\n").string();
    const std::string events = file("events.csv", "time,stage,duration\n50,2,30\n").string();
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"check", cycle, "--beds", "2", "--chart", "beds.svg"},
          {"run", cycle, "--beds", "2", "--chart", "beds.svg", "--events", events, "--stop-time", "100"}}) {
        const Outcome outcome = host(args);
        ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
        const std::string lint = std::string(SU55IF_XMLLINT) + " --noout " + (dir_ / "beds.svg").string();
        EXPECT_EQ(std::system(lint.c_str()), 0) << args.front();
    }
    const std::string svg = readFile(dir_ / "beds.svg");
    EXPECT_NE(svg.find("Schedule 2 from time 50: 2 beds, each 30 behind"), std::string::npos);
    EXPECT_NE(svg.find("do not fit 2 beds"), std::string::npos);
}

TEST_F(Host, LoadsTheLibraryNamedOrBesideTheExecutableAndReportsLoadFailures) {
    Outcome outcome = host({"--library", (dir_ / "missing.so").string()});
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_NE(outcome.err.find("cannot load the library: " + (dir_ / "missing.so").string()), std::string::npos)
        << outcome.err;

    fs::copy_file(kLibraryFile, dir_ / "copy.so");
    outcome = host({"--library", "copy.so", "--log-calls"});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_NE(outcome.err.find("loaded copy.so\n"), std::string::npos) << outcome.err;

    // A file beside the executable comes first, and a broken one is reported,
    // not passed over.
    fs::copy_file(kHost, dir_ / "su55if-host");
    file("libsu55if.so", "not a library");
    outcome = runProgram(dir_ / "su55if-host", {}, dir_);
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_NE(outcome.err.find("cannot load the library: " + (dir_ / "libsu55if.so").string()), std::string::npos)
        << outcome.err;
}

// A file that is not a whole shared library is refused before the loader
// maps it: a copy cut short would otherwise fault inside the loader.
TEST_F(Host, RefusesLibraryFilesThatAreNotWhole) {
    const std::string library = readFile(kLibraryFile);
    struct Case {
        std::string name;
        std::string content;
        std::string message;
    };
    const Case cases[] = {
        {"empty.so", "", "not a shared library"},
        {"header.so", library.substr(0, 40), "cut short: the ELF header is not whole"},
        {"cut.so", library.substr(0, 5000), "cut short"},
        {"end.so", library.substr(0, library.size() - 1), "cut short"},
        {"text.so", "MZ not a DLL either", "cut short"},
    };
    for (const Case &c : cases) {
        file(c.name, c.content);
        const Outcome outcome = host({"--library", c.name, "check", (kExamples / "four-stage.csv").string()});
        EXPECT_EQ(outcome.exitCode, 2) << c.name << ": " << outcome.err;
        EXPECT_NE(outcome.err.find("cannot load the library: " + c.name + ": " + c.message), std::string::npos)
            << outcome.err;
    }
    const Outcome folder = host({"--library", dir_.string(), "check", (kExamples / "four-stage.csv").string()});
    EXPECT_NE(folder.err.find(": not a regular file"), std::string::npos) << folder.err;
}

// A whole library built for another system is named as such, not left to
// the loader (whose message on Windows keeps a "%1" where the name goes).
TEST_F(Host, ALibraryForAnotherSystemIsNamedAsSuch) {
    // The headers of a DLL without sections, or this build's ELF library.
    std::string dll(64 + 24, '\0');
    dll.replace(0, 2, "MZ");
    dll[0x3C] = 64;
    dll.replace(64, 6, std::string("PE\0\0\x64\x86", 6));
    dll.replace(64 + 22, 2, "\x22\x20");  // an executable DLL
    const bool windowsHost = kLibraryFile.extension() == ".dll";
    file("su55if.dll", windowsHost ? readFile(SU55IF_LIBRARY_FILE) : dll);
    const Outcome outcome = host({"--library", "su55if.dll", "check", (kExamples / "four-stage.csv").string()});
    EXPECT_EQ(outcome.exitCode, 2);
    const std::string elf = "an ELF shared library (as Linux loads)";
    EXPECT_EQ(outcome.err, "su55if-host: cannot load the library: su55if.dll: " +
                               (windowsHost ? elf + ", not a Windows DLL" : "a Windows DLL, not " + elf) +
                               ": a library for another system\n");
}

// A library that ends the process during a call (exit() in a procedure) has
// failed: exit code 3, and no output file or temporary file left.
TEST_F(Host, ALibraryThatEndsTheProcessDuringACallHasFailed) {
    file("o.csv", "old\n");
    const Outcome outcome = host({"-q", "--library", SU55IF_EXITING_LIBRARY, "run",
                                  (kExamples / "four-stage.csv").string(), "--output-file", "o.csv"});
    EXPECT_EQ(outcome.exitCode, 3);
    EXPECT_EQ(outcome.err, "su55if-host: the library ended the process during a call of SU55IF_DEFST: the host's "
                           "work is cut short, and no output file is written\n");
    EXPECT_EQ(leftInDirectory(), std::vector<std::string>{"o.csv"});
    EXPECT_EQ(readFile(dir_ / "o.csv"), "old\n");
}

TEST_F(Host, LogCallsTracesEveryCallOnStandardError) {
    const Outcome outcome = host({"run", (kExamples / "four-stage.csv").string(), "--stop-time", "10",
                                  "--output-interval", "10", "--log-calls"});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    const std::string trace = outcome.err.substr(outcome.err.find('\n') + 1);
    EXPECT_EQ(trace,
              "SU55IF_DEFST mode 0 in ([10, 20, 10, 40]; [10, 20, 10, 40]; 0; 0; 1; 0) out ([10, 20, 10, 40]; 10; 20; "
              "0; 80) status 0\n"
              "SU55IF_DEFST mode 0 in ([10, 20, 10, 40]; [10, 20, 10, 40]; 0; 0; 1; 0) out ([10, 20, 10, 40]; 10; 20; "
              "0; 80) status 0\n"
              "SU55IF_INTTIM mode 0 in ([3, 0, 1, 0]; 1; 0) out (0; 0; -1) status 0\n"
              "SU55IF_ACTYP mode 0 in (-1) out (0; 0; 0; 1) status 0\n"
              "SU55IF_DEFST mode 0 in ([10, 20, 10, 40]; [10, 20, 10, 40]; 0; 10; 2; 10) out ([10, 20, 10, 40]; 20; "
              "10; 0; 80) status 0\n"
              "SU55IF_INTTIM mode 0 in ([3, 0, 1, 0]; 2; 10) out (0; 0; 0) status 0\n"
              "SU55IF_ACTYP mode 0 in (0) out (0; 0; 0; 0) status 0\n");
}

TEST_F(Host, CommandLine) {
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string inOutput;  // expected on standard output, or on standard error for exit 2
    };
    const std::string cycle = (kExamples / "four-stage.csv").string();
    const Case cases[] = {
        {{"--help"}, 0, "check"},
        {{"run", "--help"}, 0, "--output-interval"},
        {{"--version"}, 0, "su55if-host 0."},
        {{"--no-such-option"}, 2, "--no-such-option"},
        {{"check"}, 2, "CYCLE"},
        {{"run", cycle, "--stop-time", "-1"}, 2, "--stop-time must be"},
        {{"run", cycle, "--output-interval", "nan"}, 2, "--output-interval"},
        {{"run", cycle, "--output-interval", "1e-300"}, 2, "give more than 4503599627370497 samples"},
        {{"run", cycle, "--stoptime", "10"}, 2, "su55if-host: unknown option --stoptime: did you mean --stop-time?\n"},
        {{"--librar", "x"}, 2, "unknown option --librar: did you mean --library?"},
        {{"check", cycle, "--table"}, 2, "unknown option --table: `su55if-host check --help` lists the options"},
    };
    for (const Case &c : cases) {
        const Outcome outcome = host(c.args);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << c.args.at(0) << ": " << outcome.err;
        const std::string &text = c.exitCode == 2 ? outcome.err : outcome.out;
        EXPECT_NE(text.find(c.inOutput), std::string::npos) << c.args.at(0) << ": " << text;
    }
}

// Each command's help lists the options of every command, and the main
// help alone has the long footer.
TEST_F(Host, EachCommandsHelpListsEveryOptionItTakes) {
    for (const char *command : {"run", "check"}) {
        const Outcome outcome = host({command, "--help"});
        EXPECT_EQ(outcome.exitCode, 0) << command;
        for (const char *option : {"--library", "--log-calls", "-q,--quiet", "--time-unit"}) {
            EXPECT_NE(outcome.out.find(option), std::string::npos) << command << " --help lacks " << option;
        }
        EXPECT_EQ(outcome.out.find("With no command"), std::string::npos) << command;
    }
    EXPECT_NE(host({"--help"}).out.find("Manual: man su55if-host"), std::string::npos);
}

// Whatever the output, a stopped run gives the library's records and then
// what check makes of them.
TEST_F(Host, AStoppedRunExplainsTheRecordsInEveryMode) {
    const std::vector<std::string> modes[] = {{}, {"--table"}, {"--format", "json"}};
    for (const std::vector<std::string> &mode : modes) {
        std::vector<std::string> args{"run", "faulty.csv"};
        args.insert(args.end(), mode.begin(), mode.end());
        const Outcome outcome = host(args, kExamples);
        EXPECT_EQ(outcome.exitCode, 1) << args.back();
        EXPECT_NE(outcome.err.find("Simulation Terminated\nsu55if-host: the library stopped the run of faulty.csv "
                                   "(status 4); its records are above\nsu55if-host: Stage 1 (duration 10) and its "
                                   "partner stage 3 (duration 15) are linked"),
                  std::string::npos)
            << args.back() << ": " << outcome.err;
    }
}

// Tables round numbers for reading and keep columns apart however wide a
// value; the CSV and JSON keep every digit (1.4 + 1.7 = 3.0999999999999996,
// 1.4 / 20 = 0.06999999999999999).
TEST_F(Host, TablesShowNumbersRoundedAndFilesKeepEveryDigit) {
    const std::string cycle = file("cycle.csv", "stage,duration\n1,1.4\n2,1.7\n3,123456789\n").string();
    Outcome outcome = host({"run", cycle, "--table", "--stop-time", "1"});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    for (const char *line : {"\n      2       1.7       1.4       3.1        -\n",
                             "\n      3 1.23457e+08       3.1 1.23457e+08        -\n",
                             "\nTimeline from 0 to 1 every 0.07:"}) {
        EXPECT_NE(outcome.out.find(line), std::string::npos) << line << " not in\n" << outcome.out;
    }
    outcome = host({"run", cycle, "--stop-time", "0.1"});
    EXPECT_NE(outcome.out.find("\n0.069999999999999993,1,"), std::string::npos) << outcome.out;
    outcome = host({"check", cycle, "--format", "json"});
    EXPECT_EQ(nlohmann::json::parse(outcome.out).at("stages").at(2).at("start").get<double>(), 1.4 + 1.7);
}

// Each stage named once, with any detail in the same parentheses; table
// entries as JSON integers; every link with the kind of its partner's entry.
TEST_F(Host, CheckExplainsWithStageNamesAndGivesEntriesAsIntegers) {
    struct Case {
        std::string cycle;
        std::string explanation;
        nlohmann::json partnerKinds;
    };
    const Case cases[] = {
        {"1,12,3,feed\n2,5,0,\n3,10,1,\n",
         "Stage 1 (feed, duration 12) and its partner stage 3 (duration 10) are linked", {"positive"}},
        {"1,12,4,feed\n2,5,6,\n3,4,0,\n4,7,-2,dry\n", "or give stage 1 (feed) another partner.",
         {"negative", "none", "positive"}},
    };
    for (const Case &c : cases) {
        const std::string cycle = file("cycle.csv", "stage,duration,partner,name\n" + c.cycle).string();
        const Outcome outcome = host({"check", cycle, "--format", "json"});
        EXPECT_EQ(outcome.exitCode, 1) << c.cycle;
        const nlohmann::json report = nlohmann::json::parse(outcome.out);
        EXPECT_NE(report.at("explanation").dump().find(c.explanation), std::string::npos) << report.dump();
        nlohmann::json partnerKinds = nlohmann::json::array();
        for (const nlohmann::json &link : report.at("links")) {
            EXPECT_TRUE(link.at("partner").is_number_integer()) << link;
            partnerKinds.push_back(link.at("partnerKind"));
        }
        EXPECT_EQ(partnerKinds, c.partnerKinds);
        for (const nlohmann::json &stage : report.at("stages")) {
            EXPECT_TRUE(stage.at("partner").is_number_integer()) << stage;
        }
    }
}

}  // namespace
