// su55if-host: loads the su55if library at run time and drives it offline,
// the way a simulator does, so that a cycle definition can be checked and
// its timing seen without wiring the library into a model.
#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "builtin_example.h"
#include "chart.h"
#include "csv_reader.h"
#include "cycle_file.h"
#include "host_error.h"
#include "library.h"
#include "output_file.h"
#include "report.h"
#include "simulation.h"

namespace su55if::host {
namespace {

struct Options {
    std::string library;
    bool logCalls = false;
    std::string cyclePath;  // empty: the built-in example
    bool twin = false;
    bool table = false;
    std::optional<double> stopTime;        // default: two cycles
    std::optional<double> outputInterval;  // default: 1/20 of the shortest stage
    std::string outputFile;
    std::string chartFile;
};

std::FILE *callLog(const Options &options) { return options.logCalls ? stderr : nullptr; }

int check(const Library &library, const Cycle &cycle, const Options &options) {
    Simulator simulator(library, cycle, options.twin, callLog(options));
    fmt::print("Checking {} with SU55IF_DEFST and {} at time 0.\n", cycle.name, simulator.timingName());
    const bool defined = simulator.define();
    const bool accepted = defined && simulator.checkInteractions();
    if (defined) {
        fmt::print("\n");
        printSummary(stdout, cycle, simulator.schedule());
    }
    if (!accepted) {
        fmt::print("\nThe library rejected the cycle: status 4, after the diagnostic above.\n");
        return kExitRejected;
    }
    fmt::print("\nThe library accepts the cycle.\n");
    return kExitOk;
}

// The chart's input from the samples of a run: each series at the samples
// where its value changes.
ChartInput chartInput(const Cycle &cycle, const Simulator &simulator, const std::vector<TimelineRow> &rows,
                      const RunSettings &settings) {
    ChartInput input;
    input.title = cycle.name;
    input.subtitle = fmt::format("actionCode of the stage in force ({}, every {})", simulator.timingName(),
                                 settings.outputInterval);
    input.partners = cycle.partners;
    input.schedules.emplace_back(0.0, simulator.schedule().durations);
    input.stages.name = "stage";
    input.spans = {{"delayForCode1", {}}, {"delayForCode2", {}}};
    input.codes = {{"actionCode", {}}};
    const auto record = [](ChartSeries &series, double time, double value) {
        if (series.points.empty() || series.points.back().second != value) {
            series.points.emplace_back(time, value);
        }
    };
    for (const TimelineRow &row : rows) {
        record(input.stages, row.time, row.stage);
        record(input.spans[0], row.time, row.delayForCode1);
        record(input.spans[1], row.time, row.delayForCode2);
        record(input.codes[0], row.time, row.actionCode);
    }
    input.stopTime = settings.stopTime;
    return input;
}

int run(const Library &library, const Cycle &cycle, const Options &options) {
    Simulator simulator(library, cycle, options.twin, callLog(options));
    std::vector<TimelineRow> rows;
    RunSettings settings;
    bool completed = simulator.define();
    if (completed) {
        settings = simulator.defaultSettings();
        settings.stopTime = options.stopTime.value_or(settings.stopTime);
        settings.outputInterval = options.outputInterval.value_or(settings.outputInterval);
        completed = simulator.run(settings, rows);
    }
    if (!completed) {
        std::fflush(stdout);
        fmt::print(stderr, "su55if-host: the library stopped the run of {} (status 4); its diagnostic is on "
                           "standard output\n",
                   cycle.name);
        return kExitRejected;
    }

    if (!options.outputFile.empty()) {
        writeFileAtomically(options.outputFile, timelineCsv(rows, options.twin));
    }
    if (!options.chartFile.empty()) {
        writeFileAtomically(options.chartFile, renderChart(chartInput(cycle, simulator, rows, settings)));
    }
    if (options.table) {
        printSummary(stdout, cycle, simulator.schedule());
        printTimelineTable(stdout, rows, simulator, settings);
    } else if (options.outputFile.empty()) {
        fmt::print("{}", timelineCsv(rows, options.twin));
    }
    if (!options.outputFile.empty()) {
        fmt::print("Wrote {} samples to {}.\n", rows.size(), options.outputFile);
    }
    if (!options.chartFile.empty()) {
        fmt::print("Wrote the chart to {}.\n", options.chartFile);
    }
    return kExitOk;
}

// The value of a numeric option that was given, checked to be usable as a
// time; none when the option was not given.
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

int hostMain(int argc, char **argv) {
    Options options;
    CLI::App app{"Loads the su55if library and drives it offline, as a simulator would: checks a cycle "
                 "file or steps time through its cycle and reports what the library computes.",
                 "su55if-host"};
    app.footer("With no command, runs the built-in example (examples/four-stage.csv) and prints a readable "
               "timeline.\nExit codes: 0 done; 1 the library stopped the run (status 4); 2 bad usage, bad cycle "
               "file, library not loadable or output file not writable.\nManual: docs/host.md.");
    app.set_version_flag("--version", "su55if-host " SU55IF_HOST_VERSION);
    app.add_option("--library", options.library,
                   "the libsu55if.so to load (default: the one beside su55if-host, else the one built with it)");
    app.add_flag("--log-calls", options.logCalls,
                 "print every library call with its inputs, outputs and status on standard error");
    app.fallthrough();
    app.require_subcommand(0, 1);

    CLI::App *checkCommand = app.add_subcommand(
        "check", "define the schedule at time 0, let the library check the interaction table, print a summary");
    checkCommand->add_option("CYCLE", options.cyclePath, "the cycle file (CSV: stage,duration,partner)")->required();
    checkCommand->add_flag("--twin", options.twin, "check with SU55IF_IINTTIM instead of SU55IF_INTTIM");

    CLI::App *runCommand =
        app.add_subcommand("run", "step time through the cycle and write the timeline the library computes");
    runCommand->add_option("CYCLE", options.cyclePath, "the cycle file (CSV: stage,duration,partner)")->required();
    std::string stopTime;  // read as numbers in cycle files are
    std::string outputInterval;
    const CLI::Option *stopTimeOption =
        runCommand->add_option("--stop-time", stopTime, "the last time of the run (default: two cycles)");
    const CLI::Option *outputIntervalOption = runCommand->add_option(
        "--output-interval", outputInterval, "the time between samples (default: 1/20 of the shortest stage)");
    runCommand->add_flag("--twin", options.twin, "use SU55IF_IINTTIM and SU55IF_IACTYP");
    runCommand->add_option("--output-file", options.outputFile, "write the CSV timeline to this file");
    runCommand->add_option("--chart", options.chartFile, "write an SVG picture of the cycle and the run");
    runCommand->add_flag("--table", options.table,
                         "print a readable summary and timeline instead of the CSV on standard output");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        return app.exit(error) == 0 ? kExitOk : kExitError;
    }
    options.stopTime = positiveTime(stopTimeOption, stopTime);
    options.outputInterval = positiveTime(outputIntervalOption, outputInterval);

    const Library library(chooseLibraryPath(options.library));
    if (options.logCalls) {
        fmt::print(stderr, "su55if-host: loaded {}\n", library.path());
    }
    if (checkCommand->parsed()) {
        return check(library, readCycleFile(options.cyclePath), options);
    }
    if (runCommand->parsed()) {
        return run(library, readCycleFile(options.cyclePath), options);
    }
    // No command: the built-in example as a readable timeline.
    fmt::print("su55if-host: the built-in example; `su55if-host --help` lists the commands.\n\n");
    options.table = true;
    return run(library, parseCycle(kBuiltinExampleText, kBuiltinExampleName), options);
}

}  // namespace
}  // namespace su55if::host

int main(int argc, char **argv) {
    try {
        return su55if::host::hostMain(argc, argv);
    } catch (const su55if::host::HostError &error) {
        std::fflush(stdout);
        fmt::print(stderr, "su55if-host: {}\n", error.what());
        return error.exitCode();
    } catch (const std::exception &error) {
        std::fflush(stdout);
        fmt::print(stderr, "su55if-host: {}\n", error.what());
        return su55if::host::kExitError;
    }
}
