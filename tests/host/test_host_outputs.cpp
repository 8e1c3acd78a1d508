// su55if-host's outputs and messages under hostile conditions: devices and
// links as outputs, outputs that are inputs, failed writes, signals, long
// names, bad values in cycle files. Every case checks that no pre-existing
// file was changed and no temporary file was left.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "host_process.h"

namespace {

using namespace su55if::test;

constexpr const char *kHeader = "time,stage,elapsed";

class HostOutputs : public Host {
protected:
    void SetUp() override {
        Host::SetUp();
        cycle_ = readFile(kExamples / "four-stage.csv");
        file("cycle.csv", cycle_);
    }
    Outcome run(const std::vector<std::string> &options) {
        std::vector<std::string> args{"run", "cycle.csv"};
        args.insert(args.end(), options.begin(), options.end());
        return host(args);
    }
    std::string cycle_;
};

struct stat statusOf(const fs::path &path, bool followLinks = true) {
    struct stat status {};
    EXPECT_EQ(followLinks ? stat(path.c_str(), &status) : lstat(path.c_str(), &status), 0) << path;
    return status;
}

TEST_F(HostOutputs, DevicesFifosAndStandardOutputAreWrittenInPlace) {
    Outcome outcome = run({"--output-file", "/dev/null"});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_TRUE(S_ISCHR(statusOf("/dev/null").st_mode));

    // Standard output is a regular file here: written through, not replaced.
    outcome = run({"--output-file", "/dev/stdout"});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_TRUE(outcome.out.starts_with(kHeader)) << outcome.out.substr(0, 80);
    EXPECT_TRUE(S_ISLNK(statusOf("/dev/stdout", false).st_mode));

    // A FIFO held open for reading here, so that the host's open does not wait.
    ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    const int reader = open((dir_ / "fifo").c_str(), O_RDWR | O_NONBLOCK);
    outcome = run({"--output-file", "fifo"});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    std::string received(1 << 16, '\0');
    const ssize_t got = read(reader, received.data(), received.size());
    close(reader);
    EXPECT_TRUE(received.starts_with(kHeader));
    EXPECT_EQ(std::count(received.begin(), received.begin() + std::max<ssize_t>(got, 0), '\n'), 322);
    EXPECT_EQ(leftInDirectory(), (std::vector<std::string>{"cycle.csv", "fifo"}));
}

TEST_F(HostOutputs, OutputsThatAreAnInputOrAnotherOutputAreRefusedBeforeTheRun) {
    fs::create_hard_link(dir_ / "cycle.csv", dir_ / "hard.svg");
    fs::create_symlink("cycle.csv", dir_ / "soft.csv");
    fs::create_symlink("x.svg", dir_ / "dangling.csv");
    fs::create_directory(dir_ / "sub");
    // A chart's name ends in .svg; an output file of another name is CSV.
    const std::vector<std::string> cases[] = {
        {"--output-file", "cycle.csv"},
        {"--chart", "hard.svg"},
        {"--output-file", "soft.csv"},
        {"--output-file", "x.svg", "--chart", "x.svg"},
        {"--output-file", "x.svg", "--chart", "sub/../x.svg"},
        {"--output-file", "dangling.csv", "--chart", "x.svg"},
        {"--output-file", "soft.csv", "--chart", "hard.svg"},
    };
    const std::vector<std::string> before = leftInDirectory();
    for (const std::vector<std::string> &options : cases) {
        const Outcome outcome = run(options);
        EXPECT_EQ(outcome.exitCode, 2) << options.at(1);
        EXPECT_NE(outcome.err.find("will not write"), std::string::npos) << outcome.err;
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(readFile(dir_ / "cycle.csv"), cycle_);
        EXPECT_EQ(leftInDirectory(), before) << options.at(1);
    }
    // write-cycle's rows and its output, the same file through a link.
    const std::string rows = R"({"name": "c.csv", "stages": [{"duration": 10, "partner": 0, "name": ""}]})";
    file("rows.json", rows);
    fs::create_symlink("rows.json", dir_ / "rows.csv");
    const Outcome outcome = host({"write-cycle", "rows.json", "rows.csv"});
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_EQ(outcome.err, "su55if-host: will not write rows.csv: it is the input file rows.json\n");
    EXPECT_EQ(readFile(dir_ / "rows.json"), rows);
}

// `run ... >> in.csv` would read back the rows it writes, appended to the
// user's file: refused before anything is read or written, for every input.
TEST_F(HostOutputs, StandardOutputThatIsAnInputIsRefusedBeforeTheRun) {
    file("in.csv", "time,hold\n0,0\n");
    file("events.csv", "time,stage,duration\n");
    for (const std::string input : {"cycle.csv", "in.csv", "events.csv"}) {
        const std::string before = readFile(dir_ / input);
        const Outcome outcome = runProgram(kHost, {"run", "cycle.csv", "--input-file", "in.csv", "--events", "events.csv"},
                                           dir_, dir_ / input, true);
        EXPECT_EQ(outcome.exitCode, 2) << input;
        EXPECT_EQ(outcome.err, "su55if-host: will not write to standard output: it is the input file " + input + "\n");
        EXPECT_TRUE(readFile(dir_ / input) == before) << input << " was written to";
    }
}

TEST_F(HostOutputs, AReplacedFileKeepsItsModeOwnerAndLinksButNotItsOtherHardLinks) {
    file("private.csv", "old\n");
    fs::permissions(dir_ / "private.csv", fs::perms::owner_read | fs::perms::owner_write);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown((dir_ / "private.csv").c_str(), 1234, 1234), 0);
    }
    file("a.csv", "old\n");
    fs::create_hard_link(dir_ / "a.csv", dir_ / "b.csv");
    file("target.csv", "old\n");
    fs::create_symlink("target.csv", dir_ / "link.csv");
    fs::create_symlink("made.csv", dir_ / "dangling.csv");

    for (const char *output : {"private.csv", "a.csv", "link.csv", "dangling.csv"}) {
        const Outcome outcome = run({"--output-file", output});
        EXPECT_EQ(outcome.exitCode, 0) << output << ": " << outcome.err;
        EXPECT_TRUE(readFile(dir_ / output).starts_with(kHeader)) << output;
    }
    const struct stat privateFile = statusOf(dir_ / "private.csv");
    EXPECT_EQ(privateFile.st_mode & 07777, 0600u);
    if (root) {
        EXPECT_EQ(privateFile.st_uid, 1234u);
        EXPECT_EQ(privateFile.st_gid, 1234u);
    }
    EXPECT_EQ(readFile(dir_ / "b.csv"), "old\n");  // the rename replaced the name written, not the file
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.csv"));
    EXPECT_TRUE(readFile(dir_ / "target.csv").starts_with(kHeader));
    EXPECT_TRUE(fs::is_symlink(dir_ / "dangling.csv"));
    EXPECT_EQ(leftInDirectory(), (std::vector<std::string>{"a.csv", "b.csv", "cycle.csv", "dangling.csv", "link.csv",
                                                           "made.csv", "private.csv", "target.csv"}));
}

TEST_F(HostOutputs, AFailedWriteIsExitTwoAndLeavesEveryOutputAsItWas) {
    struct Case {
        std::vector<std::string> args;
        fs::path standardOutput;  // empty: a file
        std::string message;
    };
    const Case cases[] = {
        {{"run", "cycle.csv", "--output-file", "ok.csv", "--chart", "/nonexistent/c.svg"}, {},
         "cannot write /nonexistent/c.svg: No such file"},
        {{"run", "cycle.csv", "--output-file", "/dev/full", "--chart", "c.svg"}, {}, "cannot write /dev/full: No space"},
        {{"run", "cycle.csv", "--output-file", "ok.csv", "--table"}, "/dev/full", "standard output: No space"},
        {{"run", "cycle.csv"}, "/dev/full", "cannot write to standard output: No space"},
        {{"check", "cycle.csv"}, "/dev/full", "cannot write to standard output: No space"},
        {{}, "/dev/full", "cannot write to standard output: No space"},
        {{"--help"}, "/dev/full", "cannot write to standard output: No space"},
    };
    for (const Case &c : cases) {
        file("ok.csv", "old\n");
        const Outcome outcome = runProgram(kHost, c.args, dir_, c.standardOutput);
        const std::string what = c.args.empty() ? "no command" : c.args.back();
        EXPECT_EQ(outcome.exitCode, 2) << what;
        EXPECT_NE(outcome.err.find(c.message), std::string::npos) << what << ": " << outcome.err;
        EXPECT_EQ(readFile(dir_ / "ok.csv"), "old\n") << what;
        EXPECT_EQ(leftInDirectory(), (std::vector<std::string>{"cycle.csv", "ok.csv"})) << what;
    }
}

// A file-size limit stands in for a full disk: with SIGXFSZ ignored a write
// past it fails (EFBIG); otherwise the signal ends the run.
TEST_F(HostOutputs, AFileThatCannotGrowLeavesTheOldOneAndNoTemporaryFile) {
    struct Case {
        const char *signalAction;
        int exitCode;
        std::string message;
    };
    const Case cases[] = {{"trap '' XFSZ", 2, "cannot write ok.csv: File too large"}, {":", 128 + SIGXFSZ, ""}};
    for (const Case &c : cases) {
        file("ok.csv", "old\n");
        const Outcome outcome =
            runProgram("/bin/sh", {"-c", std::string(c.signalAction) + "; ulimit -f 4; exec \"$0\" \"$@\"",
                                   kHost.string(), "run", "cycle.csv", "--output-file", "ok.csv"},
                       dir_);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << c.signalAction << ": " << outcome.err;
        EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
        EXPECT_EQ(readFile(dir_ / "ok.csv"), "old\n");
        EXPECT_EQ(leftInDirectory(), (std::vector<std::string>{"cycle.csv", "ok.csv"})) << c.signalAction;
    }
}

TEST_F(HostOutputs, ASignalDuringARunLeavesNoTemporaryFile) {
    file("out.csv", "old\n");
    for (const int signal : {SIGINT, SIGTERM}) {
        const fs::path log = fs::temp_directory_path() / ("su55if-host-signal-" + std::to_string(getpid()));
        // Two million samples: seconds of work, ended as soon as the
        // temporary file is there.
        const pid_t child = startProgram(
            kHost, {"run", "cycle.csv", "--stop-time", "999999", "--output-interval", "0.5", "--output-file", "out.csv"},
            dir_, log, log);
        bool temporaryMade = false;
        for (int wait = 0; wait < 1000 && !temporaryMade; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            temporaryMade = leftInDirectory().size() > 2;
        }
        EXPECT_TRUE(temporaryMade);
        kill(child, signal);
        EXPECT_EQ(waitForExit(child), 128 + signal) << readFile(log);
        fs::remove(log);
        EXPECT_EQ(readFile(dir_ / "out.csv"), "old\n");
        EXPECT_EQ(leftInDirectory(), (std::vector<std::string>{"cycle.csv", "out.csv"})) << signal;
    }
}

TEST_F(HostOutputs, OutputNamesUpToTheLimitAreWritten) {
    // 126 two-byte characters and one byte: the temporary name is cut
    // between characters.
    std::string accented;
    for (int i = 0; i < 126; ++i) {
        accented += "\xC3\xA9";
    }
    for (const std::string &name : {std::string(254, 'n'), std::string(255, 'n'), accented + "n"}) {
        const Outcome outcome = run({"--output-file", name});
        EXPECT_EQ(outcome.exitCode, 0) << name.size() << ": " << outcome.err;
        EXPECT_EQ(leftInDirectory(), (std::vector<std::string>{"cycle.csv", name}));
        fs::remove(dir_ / name);
    }
}

TEST_F(HostOutputs, BadValuesAreShownShortAndEscaped) {
    struct Case {
        std::string value;
        std::string shown;
    };
    const Case cases[] = {
        {std::string(4'000, 'x'), "\"" + std::string(40, 'x') + "...\""},  // longer lines are refused whole
        {std::string("1\0x", 3), R"("1\0x")"},
        {"\x1B[31mred\x1B[0m", R"("\x1B[31mred\x1B[0m")"},
        // Not UTF-8 (stray, cut, surrogate): read as Windows-1252, whose
        // undefined bytes are C1 controls, escaped.
        {"\xFF\xC3(\xED\xA0\x80", "\"\xC3\xBF\xC3\x83(\xC3\xAD\xC2\xA0\xE2\x82\xAC\""},
        {"\x81\x9D", R"("\xC2\x81\xC2\x9D")"},
        {"\xC2\x9B" "2J", R"("\xC2\x9B2J")"},                      // a C1 control
        {"\xC3\xA9t\xC3\xA9", "\"\xC3\xA9t\xC3\xA9\""},            // valid UTF-8 as it is
        {R"(a"b\c)", R"("a\"b\\c")"},
    };
    for (const Case &c : cases) {
        file("bad.csv", "stage,duration,partner\n1," + c.value + ",0\n");
        const Outcome outcome = host({"check", "bad.csv"});
        EXPECT_EQ(outcome.exitCode, 2);
        EXPECT_EQ(outcome.err, "su55if-host: bad.csv:2:3: duration " + c.shown + " is not a number\n");
    }
    // File names too.
    const Outcome outcome = host({"check", "\x1B]0;title\x07.csv"});
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_NE(outcome.err.find(R"(\x1B]0;title\x07.csv: cannot open)"), std::string::npos) << outcome.err;
}

// A name from a file or a unit from the command line reaches a terminal
// escaped in every text the host writes: the explanation of a stopped run,
// check's table and explanation, the rows of run --table; in JSON, the same
// name with nothing that reorders the text around it.
TEST_F(HostOutputs, NamesAndUnitsAreShownEscapedEverywhere) {
    const std::string name = "a\x1B]0;PWNED\x07" "b\x1B[2J\xC2\x9B\xE2\x80\xAE";
    const std::string shown = R"(a\x1B]0;PWNED\x07b\x1B[2J\xC2\x9B\xE2\x80\xAE)";
    file("parted.csv", "stage,duration,partner,name\n1,10,2,\"" + name + "\"\n2,11,1,z\n");
    file("linked.csv", "stage,duration,partner,name\n1,10,2,\"" + name + "\"\n2,10,1,z\n");
    const Outcome stopped = host({"-q", "run", "parted.csv"});
    EXPECT_EQ(stopped.exitCode, 1);
    EXPECT_EQ(stopped.err, "Interaction stage 1 invalid time match.\nSimulation Terminated\n"
                           "su55if-host: the library stopped the run of parted.csv (status 4); its records are above\n"
                           "su55if-host: Stage 1 (" + shown + ", duration 10) and its partner stage 2 (z, duration 11) "
                           "are linked but their durations differ.\n"
                           "su55if-host: To fix it: give both the same duration, 10 or 11, or unlink them (partner 0).\n");
    const std::string unit = "s\x1B[2J";
    for (const auto &args : {std::vector<std::string>{"check", "parted.csv", "--time-unit", unit},
                             std::vector<std::string>{"run", "linked.csv", "--table", "--time-unit", unit}}) {
        const Outcome outcome = host(args);
        EXPECT_NE(outcome.out.find(shown), std::string::npos) << outcome.out;
        EXPECT_NE(outcome.out.find(R"(s\x1B[2J)"), std::string::npos) << outcome.out;
        for (const std::string &text : {outcome.out, outcome.err}) {
            const bool control = std::any_of(text.begin(), text.end(), [](char c) {
                return (static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == '\x7F';
            });
            EXPECT_FALSE(control || text.find("\xC2\x9B") != std::string::npos || text.find("\xE2\x80\xAE") != std::string::npos)
                << args[0] << ": " << text;
        }
    }
    const Outcome json = host({"check", "parted.csv", "--format", "json"});
    EXPECT_EQ(json.out.find("\xE2\x80\xAE"), std::string::npos) << json.out;
    EXPECT_EQ(nlohmann::json::parse(json.out)["stages"][0]["name"], name);
}

// A file the user may not write is refused, as the shell refuses it,
// although the temporary file's rename could replace it: by any output.
// Root may write it, and it stays read-only; another user may not, though
// the folder lets the rename through (as root, the host runs as nobody too).
TEST_F(HostOutputs, AReadOnlyFileIsReplacedOnlyByWhoMayWriteIt) {
    const bool windows = kHost.extension() == ".exe";
    const bool root = geteuid() == 0;
    file("rows.json", R"({"name": "c.csv", "stages": [{"duration": 10, "partner": 0, "name": ""}]})");
    fs::permissions(dir_, fs::perms::all);
    const std::vector<std::string> commands[] = {{"run", "cycle.csv", "--output-file", "o.csv"},
                                                 {"run", "cycle.csv", "--chart", "o.svg"},
                                                 {"write-cycle", "rows.json", "o.csv"}};
    for (const std::vector<std::string> &command : commands) {
        const fs::path output = dir_ / command.back();
        for (const bool asNobody : {false, true}) {
            if (asNobody && (!root || windows)) {
                continue;
            }
            file(output.filename().string(), "old\n");
            fs::permissions(output, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
            std::vector<std::string> args{"--reuid=65534", "--regid=65534", "--clear-groups", kHost.string()};
            args.insert(args.end(), command.begin(), command.end());
            const Outcome outcome = asNobody ? runProgram("/usr/bin/setpriv", args, dir_) : host(command);
            const bool replaced = root && !windows && !asNobody;
            EXPECT_EQ(outcome.exitCode, replaced ? 0 : 2) << command.back() << " " << asNobody << ": " << outcome.err;
            EXPECT_EQ(readFile(output) == "old\n", !replaced) << command.back() << " " << asNobody;
            EXPECT_EQ(statusOf(output).st_mode & 0222, 0U);
            if (!replaced) {
                EXPECT_NE(outcome.err.find("cannot write " + command.back() + ": Permission denied"), std::string::npos)
                    << outcome.err;
            }
            fs::remove(output);
        }
    }
    EXPECT_EQ(leftInDirectory(), (std::vector<std::string>{"cycle.csv", "rows.json"}));
}

}  // namespace

// An empty file name is a mistake, not "no file"; a name is shown escaped
// in every message and note, whichever file it names.
TEST_F(HostOutputs, FileNamesAreNeverEmptyAndAlwaysShownEscaped) {
    for (const char *option : {"--chart", "--output-file", "--input-file", "--events", "--library"}) {
        const Outcome outcome = run({option, ""});
        EXPECT_EQ(outcome.exitCode, 2) << option;
        EXPECT_NE(outcome.err.find(std::string(option) + ": an empty file name"), std::string::npos) << outcome.err;
        EXPECT_EQ(leftInDirectory(), std::vector<std::string>{"cycle.csv"}) << option;
    }
    const std::string hostile = "a\x1B[2J\nb";
    const std::string shown = R"(a\x1B[2J\nb)";
    file(hostile, "time,colour\n0,1\n");
    const Outcome refused = run({"--input-file", hostile});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find(shown + ":1:6: unknown column"), std::string::npos) << refused.err;
    fs::remove(dir_ / hostile);
    const Outcome written = run({"--output-file", hostile + ".csv", "--chart", hostile + ".svg"});
    EXPECT_EQ(written.exitCode, 0) << written.err;
    EXPECT_NE(written.err.find("samples to " + shown + ".csv\n"), std::string::npos) << written.err;
    EXPECT_NE(written.err.find("the chart to " + shown + ".svg\n"), std::string::npos) << written.err;
}
