// su55if-host: loads the su55if library at run time and drives it offline,
// the way a simulator does, so that a cycle definition can be checked and
// its timing seen, with timed inputs and events, without wiring the library
// into a model.
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
#include "engine/csv_reader.h"
#include "engine/cycle.h"
#include "engine/error.h"
#include "engine/text.h"
#include "engine/timed_rows.h"
#include "engine/workbench.h"
#include "host/command_line.h"
#include "host/cycle_rows.h"
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
namespace {

std::FILE *callLog(const Options &options) { return options.logCalls ? stderr : nullptr; }

void note(const Options &options, const std::string &message) {
    if (!options.quiet) {
        engine::printMessage(stderr, message);
    }
}

engine::Streams streams(const Options &options) {
    return {dataOutput(), stderr, callLog(options), options.messagesJson, nullptr};
}

// The messages of a command line that asks for them as JSON: the host's
// own options parsed or not.
bool messagesAsJson(int argc, char **argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string_view(argv[i]) == "--messages" && std::string_view(argv[i + 1]) == "json") {
            return true;
        }
    }
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--messages=json") {
            return true;
        }
    }
    return false;
}

engine::Cycle cycleOfRows(const CycleRows &rows) { return engine::cycleFromRows(rows.rows, rows.name); }

// The cycle file of a cycle given as rows, keeping its text's comment lines.
int writeCycle(const Options &options) {
    refuseClashingPaths({options.cyclePath}, {options.cycleOutput});
    const CycleRows rows = readCycleRows(options.cyclePath);
    const std::string text = engine::writeCycleFile(rows.rows, rows.text);
    OutputSet outputs;
    OutputFile &file = outputs.add(options.cycleOutput);
    std::fwrite(text.data(), 1, text.size(), file.stream());
    outputs.commit();
    note(options, fmt::format("wrote the cycle file {}", printable(options.cycleOutput)));
    return engine::kExitOk;
}

// The cycle first, so that a faulty file is reported as such whatever the
// library; with no command, the built-in example.
engine::Cycle readCycleOf(const Options &options) {
    if (options.command == Command::example) {
        return engine::parseCycle(engine::kBuiltinExampleText, engine::kBuiltinExampleName);
    }
    if (options.rows) {
        return cycleOfRows(readCycleRows(options.cyclePath));
    }
    return engine::readCycle(openFile(options.cyclePath, engine::kCycleFileLimits.kind), options.cyclePath);
}

std::unique_ptr<LoadedLibrary> loadLibrary(const Options &options) {
    auto library = std::make_unique<LoadedLibrary>(chooseLibraryPath(options.library));
    if (options.logCalls) {
        engine::printMessage(stderr, "loaded " + printable(library->path()));
    }
    return library;
}

// With --format json, the report's JSON whatever fails (engine::checkOrReport).
int check(const Options &options) {
    OutputSet outputs;
    OutputFile *chartFile = nullptr;
    const int exitCode = engine::checkOrReport(
        options.check, dataOutput(), options.cyclePath, [&](std::optional<engine::Cycle> &cycle) {
            cycle = readCycleOf(options);
            const std::unique_ptr<LoadedLibrary> library = loadLibrary(options);
            chartFile = options.chartFile.empty() ? nullptr : &outputs.add(options.chartFile);
            return engine::check(*library, *cycle, options.check, streams(options),
                                 chartFile != nullptr ? chartFile->stream() : nullptr);
        });
    // The chart is drawn only for a cycle the library accepted; a file in
    // place (a pipe) cannot tell, and takes what came.
    if (chartFile != nullptr && std::ftell(chartFile->stream()) != 0) {
        outputs.commit();
        note(options, fmt::format("wrote the chart to {}", printable(options.chartFile)));
    }
    return exitCode;
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

    // Progress on a terminal, unless the timeline itself is shown there or
    // the call log is written line after line.
    const bool timelineOnTerminal = options.outputFile.empty() && isatty(fileno(dataOutput())) != 0;
    RunWatch watch(!options.quiet && !options.logCalls && isatty(STDERR_FILENO) != 0 && !timelineOnTerminal);
    if (dataFile != nullptr) {
        watch.watch(*dataFile);
    }
    const int exitCode = engine::run(library, cycle, std::move(inputs), options.run, streams(options),
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

int hostMain(int argc, char **argv) {
    Options options;
    if (const std::optional<int> exitCode = parseCommandLine(argc, argv, options)) {
        return *exitCode;
    }
    if (options.version) {
        printHostVersion(dataOutput());
        printLibraryVersion(dataOutput(), LoadedLibrary(chooseLibraryPath(options.library)).path());
        return engine::kExitOk;
    }
    if (options.command == Command::run && options.run.timeline == engine::TimelineFormat::sampleStream && options.outputFile.empty() &&
        isatty(fileno(dataOutput())) != 0) {
        throw Error("--format binary writes binary data: redirect standard output or give --output-file");
    }

    if (options.command == Command::writeCycle) {
        return writeCycle(options);
    }
    if (options.command != Command::example) {
        refuseClashingPaths({options.cyclePath, options.inputFile, options.eventsFile, options.library},
                            {options.outputFile, options.chartFile});
    }
    if (options.command == Command::check) {
        return check(options);
    }
    const engine::Cycle cycle = readCycleOf(options);
    const std::unique_ptr<LoadedLibrary> library = loadLibrary(options);
    if (options.command == Command::example) {
        // The built-in example as a readable timeline.
        note(options, "the built-in example; `su55if-host --help` lists the commands.");
        options.run.table = true;
        options.run.timeline = engine::TimelineFormat::none;
    }
    return run(*library, cycle, options);
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
        const su55if::engine::Streams messages{nullptr, stderr, nullptr, host::messagesAsJson(argc, argv), nullptr};
        for (const su55if::engine::Diagnostic &diagnostic : error.diagnostics()) {
            su55if::engine::report(messages, diagnostic);
        }
        return error.exitCode();
    } catch (const std::exception &error) {
        if (std::ferror(su55if::host::dataOutput()) != 0 && errno == EPIPE) {
            return su55if::engine::kExitOk;
        }
        std::fflush(su55if::host::dataOutput());
        const su55if::engine::Streams messages{nullptr, stderr, nullptr, host::messagesAsJson(argc, argv), nullptr};
        su55if::engine::report(messages, su55if::engine::diagnostic(su55if::engine::DiagnosticKind::other,
                                                                    su55if::host::describeFailure(error)));
        return su55if::engine::kExitError;
    }
}
