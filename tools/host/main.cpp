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

#include "builtin_example.h"
#include "chart_recorder.h"
#include "check_report.h"
#include "csv_reader.h"
#include "cycle_file.h"
#include "host_error.h"
#include "input_file.h"
#include "library.h"
#include "library_version.h"
#include "output_file.h"
#include "record_capture.h"
#include "run_sinks.h"
#include "simulation.h"
#include "timeline_writers.h"
#include "text.h"

namespace su55if::host {
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

// The library stopped a run: its records on standard error, then what the
// host makes of them, as `check` explains them.
int reportStop(const Library &library, const Cycle &cycle, const Simulator &simulator, const char *when) {
    const std::vector<std::string> records = library.records();
    for (const std::string &record : records) {
        fmt::print(stderr, "{}\n", printable(record));
    }
    fmt::print(stderr, "su55if-host: the library stopped the run of {} (status 4){}; its records are above\n",
               printable(cycle.name), when);
    for (const std::string &line : explainRecords(cycle, simulator.schedule(), records)) {
        fmt::print(stderr, "su55if-host: {}\n", line);
    }
    return kExitRejected;
}

// A cycle the library takes but that no run can step through.
std::string cycleFault(const Schedule &schedule) {
    if (std::isinf(schedule.cycleDuration)) {
        return "the stage durations add up to more than the largest number, so the cycle duration overflows to "
               "infinity";
    }
    if (!(schedule.cycleDuration > 0.0)) {
        return fmt::format("the cycle duration is {}: a run needs a cycle longer than 0",
                           readable(schedule.cycleDuration));
    }
    return {};
}

int check(const Library &library, const Cycle &cycle, const Options &options) {
    Simulator simulator(library, cycle, RunInputs{}, options.twin, callLog(options));
    CheckResult result;
    result.timingName = simulator.timingName();
    result.defined = simulator.define();
    result.accepted = result.defined && simulator.checkInteractions();
    result.records = library.records();
    if (!result.accepted) {
        result.explanation = explainRecords(cycle, simulator.schedule(), result.records);
    } else {
        result.cycleFault = cycleFault(simulator.schedule());
    }
    if (options.format == "json") {
        printCheckJson(dataOutput(), cycle, simulator.schedule(), result, options.timeUnit);
    } else {
        printCheckText(dataOutput(), cycle, simulator.schedule(), result, options.timeUnit);
    }
    if (!result.accepted) {
        return kExitRejected;
    }
    if (!result.cycleFault.empty()) {
        fmt::print(stderr, "su55if-host: {}: {}\n", printable(cycle.name), result.cycleFault);
        return kExitError;
    }
    return kExitOk;
}

// The stop time and output interval of a run: as given, else the defaults,
// with a message naming what was given when they cannot be used.
RunSettings runSettings(const Simulator &simulator, const Cycle &cycle, const Options &options) {
    const std::string fault = cycleFault(simulator.schedule());
    if (!fault.empty()) {
        throw HostError(fmt::format("{}: {}", printable(cycle.name), fault));
    }
    const std::optional<double> stopTime = options.stopTime ? options.stopTime : simulator.defaultStopTime();
    if (!stopTime) {
        throw HostError(
            fmt::format("{}: two cycles, the default stop time, overflow to infinity: give --stop-time", printable(cycle.name)));
    }
    const std::optional<double> interval =
        options.outputInterval ? options.outputInterval : simulator.defaultOutputInterval();
    if (!interval) {
        throw HostError(fmt::format("{}: the default output interval, 1/20 of the shortest stage, is not a "
                                    "usable number: give --output-interval",
                                    printable(cycle.name)));
    }
    if (!(*stopTime / simulator.schedule().cycleDuration < kMaxCycles)) {
        throw HostError(fmt::format("{}: the run would pass more than {} cycles, where stage starts can no longer be "
                                    "told apart: lower the stop time",
                                    printable(cycle.name), kMaxCycles));
    }
    const std::string stopText = options.stopTime
                                     ? fmt::format("--stop-time {}", readable(*stopTime))
                                     : fmt::format("the default stop time {} (two cycles)", readable(*stopTime));
    const std::string intervalText =
        options.outputInterval
            ? fmt::format("--output-interval {}", readable(*interval))
            : fmt::format("the default output interval {} (1/20 of the shortest stage)", readable(*interval));
    return sampling(*stopTime, *interval, stopText + " and " + intervalText);
}

int run(const Library &library, const Cycle &cycle, const Options &options) {
    // Only the headers now: the run reads each row when its time comes.
    RunInputs inputs;
    if (!options.inputFile.empty()) {
        inputs.inputs = openInputFile(options.inputFile, cycle.stageCount());
    }
    if (!options.eventsFile.empty()) {
        inputs.events = openEventsFile(options.eventsFile, cycle.stageCount());
    }
    // Outputs are checked and opened before anything is computed, and put in
    // place together at the end, only if everything succeeded.
    OutputSet outputs;
    OutputFile *dataFile = options.outputFile.empty() ? nullptr : &outputs.add(options.outputFile);
    OutputFile *chartFile = options.chartFile.empty() ? nullptr : &outputs.add(options.chartFile);

    Simulator simulator(library, cycle, std::move(inputs), options.twin, callLog(options));
    if (!simulator.define()) {
        return reportStop(library, cycle, simulator, " at its definition");
    }
    const RunSettings settings = runSettings(simulator, cycle, options);
    // The chart's window is checked before anything is written.
    std::optional<ChartRecorder> chart;
    if (chartFile != nullptr) {
        chart.emplace(cycle, simulator, settings, options.timeUnit, options.chartFrom, options.chartTo);
    }

    // Progress on a terminal, unless the timeline itself is shown there.
    const bool timelineOnTerminal = options.outputFile.empty() && isatty(fileno(dataOutput())) != 0;
    Sinks sinks(settings.stopTime, !options.quiet && isatty(STDERR_FILENO) != 0 && !timelineOnTerminal);
    DriftWarnings warnings(cycle);
    sinks.add(warnings);
    std::FILE *dataStream = dataFile != nullptr ? dataFile->stream() : dataOutput();
    std::unique_ptr<SampleSink> data;
    if (options.format == "json") {
        data = jsonLinesWriter(dataStream, cycle, simulator);
    } else if (dataFile != nullptr || !options.table) {
        data = csvWriter(dataStream, simulator);
    }
    if (data) {
        sinks.add(*data);
    }
    if (dataFile != nullptr) {
        sinks.watch(*dataFile);
    }
    std::optional<TableWriter> table;
    if (options.table) {
        printSummary(dataOutput(), cycle, simulator.schedule(), options.timeUnit);
        table.emplace(dataOutput(), cycle, simulator, settings, options.timeUnit);
        sinks.add(*table);
    }
    if (chart) {
        sinks.add(*chart);
    }

    bool completed = false;
    try {
        completed = simulator.run(settings, sinks);
    } catch (const HostError &) {
        // A fault in a row read on the way, or in the durations a row set:
        // the progress line is cleared before the message, which a fault of
        // standard output found meanwhile does not replace.
        try {
            sinks.finish();
        } catch (...) {
        }
        throw;
    }
    sinks.finish();
    warnings.finish();
    if (!completed) {
        return reportStop(library, cycle, simulator, "");
    }
    if (table) {
        table->finish();
    }
    if (chart) {
        const std::string svg = renderChart(chart->input());
        std::fwrite(svg.data(), 1, svg.size(), chartFile->stream());
    }
    // Files are put in place only once standard output has taken its part.
    if (std::fflush(dataOutput()) != 0 && errno == EPIPE) {
        throw ClosedPipe{};
    }
    finishStandardOutput();
    outputs.commit();
    if (dataFile != nullptr) {
        note(options, fmt::format("wrote {} samples to {}", sinks.samples(), printable(options.outputFile)));
    }
    if (chartFile != nullptr) {
        note(options, fmt::format("wrote the chart to {}", printable(options.chartFile)));
    }
    return kExitOk;
}

// The value of a numeric option that was given, read as numbers in files
// are and checked to be usable as a time; none when it was not given.
std::optional<double> positiveTime(const CLI::Option *option, const std::string &text) {
    if (option->count() == 0) {
        return std::nullopt;
    }
    const double value = readNumber(option->get_name(), text);
    if (!(value > 0.0 && std::isfinite(value))) {
        throw HostError(fmt::format("{} must be a finite number greater than 0", option->get_name()));
    }
    return value;
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
    runCommand->add_option("--format", options.format, "text (CSV, default) or json (one JSON object per sample)")
        ->check(CLI::IsMember({"text", "json"}));

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
                throw HostError(message);
            }
        }
        return app.exit(error) == 0 ? kExitOk : kExitError;
    } catch (const CLI::ParseError &error) {
        return app.exit(error) == 0 ? kExitOk : kExitError;
    }
    if (versionFlag->count() > 0) {
        printHostVersion(dataOutput());
        printLibraryVersion(dataOutput(), Library(chooseLibraryPath(options.library)).path());
        return kExitOk;
    }
    options.stopTime = positiveTime(stopTimeOption, stopTime);
    options.outputInterval = positiveTime(outputIntervalOption, outputInterval);
    if (options.table && options.format == "json") {
        throw HostError("--table and --format json do not go together: the table is for reading");
    }

    if (runCommand->parsed()) {
        refuseClashingPaths({options.cyclePath, options.inputFile, options.eventsFile, options.library},
                            {options.outputFile, options.chartFile});
    }
    // The cycle first, so that a faulty file is reported as such whatever
    // the library; with no command, the built-in example as a readable
    // timeline.
    const bool example = !checkCommand->parsed() && !runCommand->parsed();
    const Cycle cycle =
        example ? parseCycle(kBuiltinExampleText, kBuiltinExampleName) : readCycleFile(options.cyclePath);
    const Library library(chooseLibraryPath(options.library));
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
        return su55if::host::kExitOk;
    } catch (const su55if::host::HostError &error) {
        std::fflush(su55if::host::dataOutput());
        fmt::print(stderr, "su55if-host: {}\n", su55if::host::printable(error.what()));
        return error.exitCode();
    } catch (const std::exception &error) {
        if (std::ferror(su55if::host::dataOutput()) != 0 && errno == EPIPE) {
            return su55if::host::kExitOk;
        }
        std::fflush(su55if::host::dataOutput());
        fmt::print(stderr, "su55if-host: {}\n", su55if::host::printable(su55if::host::describeFailure(error)));
        return su55if::host::kExitError;
    }
}
