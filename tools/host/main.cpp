// su55if-host: loads the su55if library at run time and drives it offline,
// the way a simulator does, so that a cycle definition can be checked and
// its timing seen, with timed inputs and events, without wiring the library
// into a model.
#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "engine/builtin_example.h"
#include "engine/command_options.h"
#include "engine/csv_reader.h"
#include "engine/cycle.h"
#include "engine/error.h"
#include "engine/text.h"
#include "engine/timed_rows.h"
#include "engine/workbench.h"
#include "host/input_files.h"
#include "host/library_version.h"
#include "host/loaded_library.h"
#include "host/output_file.h"
#include "host/run_watch.h"
#include "host/standard_output.h"

namespace su55if::host {

using engine::Error;
using engine::printable;
using engine::readable;
using engine::readNumber;
namespace {

struct Options {
    std::string library;
    bool logCalls = false;
    bool quiet = false;
    std::string format = "text";
    std::string cyclePath;  // empty: the built-in example
    bool twin = false;
    bool table = false;
    std::optional<double> stopTime;        // default: two cycles
    std::optional<double> outputInterval;  // default: 1/20 of the shortest stage
    std::string outputFile;
    std::string chartFile;
    std::optional<double> chartFrom;  // default: from 0
    std::optional<double> chartTo;    // default: the whole run, or its first cycles when it is long
    std::string inputFile;
    std::string eventsFile;
    std::string timeUnit;
};

std::FILE *callLog(const Options &options) { return options.logCalls ? stderr : nullptr; }

void note(const Options &options, const std::string &message) {
    if (!options.quiet) {
        fmt::print(stderr, "su55if-host: {}\n", message);
    }
}

engine::Streams streams(const Options &options) { return {dataOutput(), stderr, callLog(options)}; }

int check(const LoadedLibrary &library, const engine::Cycle &cycle, const Options &options) {
    return engine::check(library, cycle, {options.twin, options.format == "json", options.timeUnit}, streams(options));
}

int run(const LoadedLibrary &library, const engine::Cycle &cycle, const Options &options) {
    // Only the headers now: the run reads each row when its time comes.
    engine::RunInputs inputs;
    if (!options.inputFile.empty()) {
        inputs.inputs = engine::openInputFile(openFile(options.inputFile, engine::kInputFileLimits.kind),
                                              options.inputFile, cycle.stageCount());
    }
    if (!options.eventsFile.empty()) {
        inputs.events = engine::openEventsFile(openFile(options.eventsFile, engine::kEventsFileLimits.kind),
                                               options.eventsFile, cycle.stageCount());
    }
    // Outputs are checked and opened before anything is computed, and put in
    // place together at the end, only if everything succeeded.
    OutputSet outputs;
    OutputFile *dataFile = options.outputFile.empty() ? nullptr : &outputs.add(options.outputFile);
    OutputFile *chartFile = options.chartFile.empty() ? nullptr : &outputs.add(options.chartFile);

    engine::RunOptions settings;
    settings.twin = options.twin;
    settings.timeline = engine::timelineFormat(options.format, dataFile != nullptr, options.table);
    settings.table = options.table;
    settings.stopTime = options.stopTime;
    settings.outputInterval = options.outputInterval;
    settings.timeUnit = options.timeUnit;
    settings.chartFrom = options.chartFrom;
    settings.chartTo = options.chartTo;
    // Progress on a terminal, unless the timeline itself is shown there.
    const bool timelineOnTerminal = options.outputFile.empty() && isatty(fileno(dataOutput())) != 0;
    RunWatch watch(!options.quiet && isatty(STDERR_FILENO) != 0 && !timelineOnTerminal);
    if (dataFile != nullptr) {
        watch.watch(*dataFile);
    }
    const int exitCode = engine::run(library, cycle, std::move(inputs), settings, streams(options),
                                     {dataFile != nullptr ? dataFile->stream() : nullptr,
                                      chartFile != nullptr ? chartFile->stream() : nullptr, &watch});
    if (exitCode != engine::kExitOk) {
        return exitCode;
    }
    // Files are put in place only once standard output has taken its part.
    if (std::fflush(dataOutput()) != 0 && errno == EPIPE) {
        throw ClosedPipe{};
    }
    finishStandardOutput();
    outputs.commit();
    if (dataFile != nullptr) {
        note(options, fmt::format("wrote {} samples to {}", watch.samples(), printable(options.outputFile)));
    }
    if (chartFile != nullptr) {
        note(options, fmt::format("wrote the chart to {}", printable(options.chartFile)));
    }
    return engine::kExitOk;
}

// The value of a numeric option that was given, read as numbers in files
// are and checked to be usable as a time; none when it was not given.
std::optional<double> positiveTime(const CLI::Option *option, const std::string &text) {
    if (option->count() == 0) {
        return std::nullopt;
    }
    return engine::positiveTime(option->get_name(), text);
}

// A file name must name something: an empty one is refused, not taken as
// "not given".
const CLI::Validator kFileName(
    [](const std::string &name) { return name.empty() ? std::string("an empty file name names no file") : ""; },
    "");

// The options of every command, given before or after the command's name:
// defined on each, bound to the same variables, so that each help lists
// them.
void addCommonOptions(CLI::App &command, Options &options) {
    command
        .add_option("--library", options.library,
                    "the libsu55if.so to load (default: the one beside su55if-host, else the one built with it)")
        ->type_name("FILE")
        ->check(kFileName);
    command.add_flag("--log-calls", options.logCalls,
                     "print every library call with its inputs, outputs and status on standard error");
    command.add_flag("-q,--quiet", options.quiet, "no notes or progress on standard error (errors still)");
    command.add_option("--time-unit", options.timeUnit,
                       "the unit of times and durations, a label for tables and charts");
}

// The number of characters to insert, delete or replace to turn one text
// into the other.
std::size_t editDistance(std::string_view from, std::string_view to) {
    std::vector<std::size_t> row(to.size() + 1);
    for (std::size_t j = 0; j <= to.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= from.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= to.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (from[i - 1] == to[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[to.size()];
}

// What to say of the first option on the command line that `command` does
// not know: the nearest of its own options, when one is near; empty when
// every argument left over is a value.
std::string unknownOption(const CLI::App &command) {
    for (const std::string &argument : command.remaining()) {
        if (argument.size() < 2 || argument[0] != '-' || !(argument[1] == '-' || std::isalpha(argument[1]) != 0)) {
            continue;
        }
        const std::string given = argument.substr(0, argument.find('='));
        std::string nearest;
        std::size_t nearestDistance = given.size() / 3 + 1;  // nearer than this, or not at all
        for (const CLI::Option *option : command.get_options()) {
            std::vector<std::string> names;
            for (const std::string &name : option->get_lnames()) {
                names.push_back("--" + name);
            }
            for (const std::string &name : option->get_snames()) {
                names.push_back("-" + name);
            }
            for (const std::string &name : names) {
                const std::size_t distance = editDistance(given, name);
                if (distance < nearestDistance) {
                    nearest = name;
                    nearestDistance = distance;
                }
            }
        }
        if (!nearest.empty()) {
            return fmt::format("unknown option {}: did you mean {}?", printable(given), nearest);
        }
        const std::string help =
            command.get_parent() == nullptr ? "su55if-host --help" : "su55if-host " + command.get_name() + " --help";
        return fmt::format("unknown option {}: `{}` lists the options", printable(given), help);
    }
    return {};
}

int hostMain(int argc, char **argv) {
    Options options;
    CLI::App app{"Loads the su55if library and drives it offline, as a simulator would: checks a cycle "
                 "file or steps time through its cycle, with timed inputs and events, and reports what the "
                 "library computes.",
                 "su55if-host"};
    // Options begin with '-' on every system: a '/' begins a path, also on Windows.
    app.allow_windows_style_options(false);
    const CLI::Option *versionFlag = app.add_flag("--version")->description(
        "print the version of su55if-host and of the library it loads, and exit");
    addCommonOptions(app, options);
    app.require_subcommand(0, 1);

    CLI::App *checkCommand = app.add_subcommand(
        "check", "define the schedule at time 0, let the library check the interaction table, print a report");
    checkCommand->add_option("CYCLE", options.cyclePath, "the cycle file (CSV: stage,duration[,partner][,name])")
        ->required()
        ->type_name("FILE")
        ->check(kFileName);
    checkCommand->add_flag("--twin", options.twin, "check with SU55IF_IINTTIM instead of SU55IF_INTTIM");
    checkCommand->add_option("--format", options.format, "text (default) or json")
        ->check(CLI::IsMember({"text", "json"}));

    CLI::App *runCommand =
        app.add_subcommand("run", "step time through the cycle and write the timeline the library computes");
    runCommand->add_option("CYCLE", options.cyclePath, "the cycle file (CSV: stage,duration[,partner][,name])")
        ->required()
        ->type_name("FILE")
        ->check(kFileName);
    std::string stopTime;  // read as numbers in cycle files are
    std::string outputInterval;
    const CLI::Option *stopTimeOption =
        runCommand->add_option("--stop-time", stopTime, "the last time of the run (default: two cycles)");
    const CLI::Option *outputIntervalOption = runCommand->add_option(
        "--output-interval", outputInterval, "the time between samples (default: 1/20 of the shortest stage)");
    runCommand->add_flag("--twin", options.twin, "use SU55IF_IINTTIM and SU55IF_IACTYP");
    runCommand->add_option("--input-file", options.inputFile,
                           "timed inputs (CSV: time, then hold, check, signal, value, limit, enable, durationK)")
        ->type_name("FILE")
        ->check(kFileName);
    runCommand->add_option("--events", options.eventsFile,
                           "duration changes through SU55IF_UPSTGTIM (CSV: time,stage,duration)")
        ->type_name("FILE")
        ->check(kFileName);
    runCommand->add_option("--output-file", options.outputFile, "write the timeline to this file")
        ->type_name("FILE")
        ->check(kFileName);
    CLI::Option *chartOption =
        runCommand->add_option("--chart", options.chartFile, "write an SVG picture of the cycle and the run")
            ->type_name("FILE")
            ->check(kFileName);
    runCommand
        ->add_option_function<std::string>(
            "--chart-from", [&options](const std::string &text) { options.chartFrom = readNumber("--chart-from", text); },
            "chart the run from this time on (default: from 0)")
        ->type_name("T")
        ->needs(chartOption);
    runCommand
        ->add_option_function<std::string>(
            "--chart-to", [&options](const std::string &text) { options.chartTo = readNumber("--chart-to", text); },
            "chart the run up to this time (default: the whole run, or its first 10 cycles when it passes more "
            "than 30)")
        ->type_name("T")
        ->needs(chartOption);
    runCommand->add_flag("--table", options.table,
                         "print a readable summary and timeline instead of the CSV on standard output");
    runCommand->add_option("--format", options.format,
                           "text (CSV, default), json (one JSON object per sample) or binary (a JSON header line, "
                           "then each sample's values as little-endian doubles)")
        ->check(CLI::IsMember({"text", "json", "binary"}));

    for (CLI::App *command : {checkCommand, runCommand}) {
        addCommonOptions(*command, options);
        command->footer("`su55if-host --help` gives the exit codes and where the manual is.");
    }
    // Set after the commands are made: they would take it as their own.
    app.footer("With no command, runs the built-in example (examples/four-stage.csv) and prints a readable "
               "timeline.\nData goes to standard output, every message to standard error.\nExit codes: 0 done "
               "(also when the reader of standard output closed it early); 1 the library stopped the run "
               "(status 4); 2 bad usage, bad cycle or input file, library not loadable, a run that cannot be "
               "made, or an output that cannot be written; 3 the library ended the process during a call."
               "\nManual: man su55if-host, and docs/host.md in the documentation (share/doc/su55if/ under the "
               "install prefix, or the sources).");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ExtrasError &error) {
        for (const CLI::App *command : std::initializer_list<const CLI::App *>{&app, checkCommand, runCommand}) {
            const std::string message = unknownOption(*command);
            if (!message.empty()) {
                throw Error(message);
            }
        }
        return app.exit(error) == 0 ? engine::kExitOk : engine::kExitError;
    } catch (const CLI::ParseError &error) {
        return app.exit(error) == 0 ? engine::kExitOk : engine::kExitError;
    }
    if (versionFlag->count() > 0) {
        printHostVersion(dataOutput());
        printLibraryVersion(dataOutput(), LoadedLibrary(chooseLibraryPath(options.library)).path());
        return engine::kExitOk;
    }
    options.stopTime = positiveTime(stopTimeOption, stopTime);
    options.outputInterval = positiveTime(outputIntervalOption, outputInterval);
    engine::checkTableFormat(options.table, options.format);
    if (runCommand->parsed() && options.format == "binary" && options.outputFile.empty() &&
        isatty(fileno(dataOutput())) != 0) {
        throw Error("--format binary writes binary data: redirect standard output or give --output-file");
    }

    if (runCommand->parsed()) {
        refuseClashingPaths({options.cyclePath, options.inputFile, options.eventsFile, options.library},
                            {options.outputFile, options.chartFile});
    }
    // The cycle first, so that a faulty file is reported as such whatever
    // the library; with no command, the built-in example as a readable
    // timeline.
    const bool example = !checkCommand->parsed() && !runCommand->parsed();
    const engine::Cycle cycle =
        example ? engine::parseCycle(engine::kBuiltinExampleText, engine::kBuiltinExampleName)
                : engine::readCycle(openFile(options.cyclePath, engine::kCycleFileLimits.kind), options.cyclePath);
    const LoadedLibrary library(chooseLibraryPath(options.library));
    if (options.logCalls) {
        fmt::print(stderr, "su55if-host: loaded {}\n", printable(library.path()));
    }
    if (checkCommand->parsed()) {
        return check(library, cycle, options);
    }
    if (example) {
        note(options, "the built-in example; `su55if-host --help` lists the commands.");
        options.table = true;
    }
    return run(library, cycle, options);
}

}  // namespace
}  // namespace su55if::host

int main(int argc, char **argv) {
    namespace host = su55if::host;
    // A reader that closes standard output early (`| head`) ends the run
    // quietly: the write fails with EPIPE instead of killing the process.
    su55if::host::prepareStandardOutput();
    try {
        const int exitCode = su55if::host::hostMain(argc, argv);
        su55if::host::finishStandardOutput();
        return exitCode;
    } catch (const su55if::host::ClosedPipe &) {
        return su55if::engine::kExitOk;
    } catch (const su55if::engine::Error &error) {
        std::fflush(su55if::host::dataOutput());
        fmt::print(stderr, "su55if-host: {}\n", su55if::engine::printable(error.what()));
        return error.exitCode();
    } catch (const std::exception &error) {
        if (std::ferror(su55if::host::dataOutput()) != 0 && errno == EPIPE) {
            return su55if::engine::kExitOk;
        }
        std::fflush(su55if::host::dataOutput());
        fmt::print(stderr, "su55if-host: {}\n", su55if::engine::printable(su55if::host::describeFailure(error)));
        return su55if::engine::kExitError;
    }
}
