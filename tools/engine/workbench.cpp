#include "engine/workbench.h"

#include <fmt/format.h>

#include <cmath>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>
#include <vector>

#include "engine/beds.h"
#include "engine/beds_report.h"
#include "engine/chart/chart_beds.h"
#include "engine/chart/beds_recorder.h"
#include "engine/chart/chart_recorder.h"
#include "engine/error.h"
#include "engine/reports.h"
#include "engine/sample_stream.h"
#include "engine/sinks.h"
#include "engine/text.h"
#include "engine/timeline_writers.h"

namespace su55if::engine {

namespace {

// The library stopped a run: its records, then what the workbench makes of
// them, as `check` explains them.
int reportStop(const callkit::Binding &library, const Cycle &cycle, const Simulator &simulator, const char *when,
               const Streams &streams) {
    Diagnostic stop;
    stop.kind = DiagnosticKind::runStopped;
    stop.libraryRecords = library.records();
    stop.message = fmt::format("the library stopped the run of {} (status 4){}; its records are above",
                               printable(cycle.name), when);
    stop.rule = fmt::format("the library stopped the run{}", when);
    report(streams, stop);
    if (std::optional<Diagnostic> why = explainRejection(cycle, simulator.schedule(), stop.libraryRecords)) {
        report(streams, *why);
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

// The stop time and output interval of a run: as given, else the defaults,
// with a message naming what was given when they cannot be used.
Diagnostic settingFault(const Cycle &cycle, std::string_view option, std::string message, std::string rule) {
    Diagnostic d = diagnostic(DiagnosticKind::badSetting, std::move(message), std::move(rule));
    d.file = cycle.name;
    d.option = std::string(option);
    return d;
}

// A time unit is a label, bounded as a stage's name is: a setting's
// fault, not the cycle's.
void checkTimeUnit(const std::string &unit) {
    if (unit.size() > kMaxNameBytes) {
        const std::string rule = fmt::format("a time unit holds at most {} bytes", kMaxNameBytes);
        Diagnostic d = diagnostic(DiagnosticKind::badSetting,
                                  fmt::format("time unit {} is {} bytes long: {}", engine::quoted(unit), unit.size(), rule),
                                  rule);
        d.option = "timeUnit";
        d.value = unit;
        throw Error(std::move(d));
    }
}

Diagnostic notRunnable(const Cycle &cycle, const std::string &fault) {
    Diagnostic d = diagnostic(DiagnosticKind::cycleNotRunnable, fault, fault);
    d.file = cycle.name;
    return d;
}

RunSettings runSettings(const Simulator &simulator, const Cycle &cycle, const RunOptions &options) {
    const std::string fault = cycleFault(simulator.schedule());
    if (!fault.empty()) {
        throw Error(notRunnable(cycle, fault));
    }
    const double cycleDuration = simulator.schedule().cycleDuration;
    const std::optional<double> stopTime =
        options.stopTime  ? options.stopTime
        : options.cycles  ? std::optional(static_cast<double>(*options.cycles) * cycleDuration)
                          : simulator.defaultStopTime();
    if (options.cycles && !std::isfinite(*stopTime)) {
        const std::string what = fmt::format("{} cycles of {} overflow to infinity", *options.cycles,
                                             readable(cycleDuration));
        throw Error(settingFault(cycle, "cycles", what + ": give fewer cycles", what));
    }
    if (!stopTime) {
        throw Error(settingFault(cycle, "stopTime",
                                 "two cycles, the default stop time, overflow to infinity: give --stop-time",
                                 "two cycles, the default stop time, overflow to infinity: give a stop time"));
    }
    const std::optional<double> interval =
        options.outputInterval ? options.outputInterval : simulator.defaultOutputInterval();
    if (!interval) {
        const std::string what = "the default output interval, 1/20 of the shortest stage, is not a usable number";
        throw Error(settingFault(cycle, "outputInterval", what + ": give --output-interval",
                                 what + ": give an output interval"));
    }
    if (!(*stopTime / cycleDuration < kMaxCycles)) {
        const std::string what = fmt::format("the run would pass more than {} cycles, where stage starts can no "
                                             "longer be told apart: lower the stop time",
                                             kMaxCycles);
        throw Error(settingFault(cycle, "stopTime", what, what));
    }
    const std::string stopText =
        options.stopTime ? fmt::format("--stop-time {}", readable(*stopTime))
        : options.cycles ? fmt::format("--cycles {} (to time {} at the durations the run starts with)",
                                       *options.cycles, readable(*stopTime))
                         : fmt::format("the default stop time {} (two cycles)", readable(*stopTime));
    const std::string intervalText =
        options.outputInterval
            ? fmt::format("--output-interval {}", readable(*interval))
            : fmt::format("the default output interval {} (1/20 of the shortest stage)", readable(*interval));
    RunSettings settings = sampling(*stopTime, *interval, stopText + " and " + intervalText);
    settings.cycles = options.cycles.value_or(0);
    return settings;
}

}  // namespace

int check(const callkit::Binding &library, const Cycle &cycle, const CheckOptions &options,
          const Streams &streams, std::FILE *chart) {
    checkTimeUnit(options.timeUnit);
    Simulator simulator(library, cycle, RunInputs{}, options.twin, streams.callLog);
    CheckResult result;
    if (std::optional<Diagnostic> note = encodingNote(cycle)) {
        result.diagnostics.push_back(std::move(*note));
    }
    result.timingName = simulator.timingName();
    result.defined = simulator.define();
    result.accepted = result.defined && simulator.checkInteractions();
    result.records = library.records();
    if (!result.accepted) {
        if (std::optional<Diagnostic> why = explainRejection(cycle, simulator.schedule(), result.records)) {
            result.explanation = {why->message, why->fix.text};
            result.explained = explainedStages(cycle, result.records);
            result.diagnostics.push_back(std::move(*why));
        }
    } else {
        result.cycleFault = cycleFault(simulator.schedule());
        if (!result.cycleFault.empty()) {
            result.diagnostics.push_back(notRunnable(cycle, result.cycleFault));
        } else {
            result.beds = checkBeds(library, cycle, simulator.schedule(), options.twin, options.beds, streams.callLog);
            if (result.beds->grid) {
                for (const BedMisfit &misfit : result.beds->grid->misfits) {
                    result.diagnostics.push_back(misfitDiagnostic(cycle, *result.beds->grid, misfit, options.timeUnit));
                }
            }
        }
    }
    if (options.json) {
        printCheckJson(streams.data, cycle, simulator.schedule(), result, options.timeUnit);
    } else {
        printCheckText(streams.data, cycle, simulator.schedule(), result, options.timeUnit);
    }
    if (!result.accepted) {
        return kExitRejected;
    }
    if (!result.cycleFault.empty()) {
        std::fflush(streams.data);
        report(streams, result.diagnostics.back());
        return kExitError;
    }
    if (result.beds && result.beds->grid) {
        if (chart != nullptr) {
            const std::string svg = renderBedsChart(cycle, *result.beds->grid, options.timeUnit);
            std::fwrite(svg.data(), 1, svg.size(), chart);
        }
        if (!result.beds->grid->misfits.empty()) {
            return kExitRejected;
        }
    }
    return kExitOk;
}

int checkOrReport(const CheckOptions &options, std::FILE *data, const std::string &name,
                  const std::function<int(std::optional<Cycle> &)> &command) {
    std::optional<Cycle> cycle;
    const auto reportFailure = [&](const std::vector<Diagnostic> &stop) {
        if (options.json) {
            printCheckFailureJson(data, name, cycle ? &*cycle : nullptr, stop, options.timeUnit);
        }
    };
    try {
        return command(cycle);
    } catch (const Error &error) {
        reportFailure(error.diagnostics());
        throw;
    } catch (const std::exception &error) {
        reportFailure({diagnostic(DiagnosticKind::other, error.what())});
        throw;
    }
}

int run(const callkit::Binding &library, const Cycle &cycle, RunInputs inputs, const RunOptions &options,
        const Streams &streams, const RunOutputs &outputs) {
    checkTimeUnit(options.timeUnit);
    Simulator simulator(library, cycle, std::move(inputs), options.twin, streams.callLog);
    if (!simulator.define()) {
        return reportStop(library, cycle, simulator, " at its definition", streams);
    }
    const RunSettings settings = runSettings(simulator, cycle, options);
    // The chart's window is checked before anything is written.
    std::optional<ChartRecorder> chart;
    if (outputs.chart != nullptr) {
        chart.emplace(cycle, simulator, settings, options.timeUnit, options.chartFrom, options.chartTo);
    }

    Sinks sinks;
    DriftWarnings warnings(cycle, streams);
    std::FILE *timeline = outputs.timeline != nullptr ? outputs.timeline : streams.data;
    std::unique_ptr<SampleSink> data;
    if (options.timeline == TimelineFormat::jsonLines) {
        data = jsonLinesWriter(timeline, cycle, simulator);
    } else if (options.timeline == TimelineFormat::sampleStream) {
        data = sampleStreamWriter(timeline, cycle, simulator, settings, options.timeUnit);
    } else if (options.timeline == TimelineFormat::csv) {
        data = csvWriter(timeline, cycle, simulator);
    }
    if (data) {
        sinks.add(*data);
    }
    // The table is the timeline, or shown on streams.data besides it.
    std::optional<TableWriter> table;
    std::FILE *tableOut = options.timeline == TimelineFormat::table ? timeline : options.table ? streams.data : nullptr;
    if (tableOut != nullptr) {
        printSummary(tableOut, cycle, simulator.schedule(), options.timeUnit);
        table.emplace(tableOut, cycle, simulator, settings, options.timeUnit);
        sinks.add(*table);
    }
    if (chart) {
        sinks.add(*chart);
    }
    std::optional<BedsRecorder> beds;
    if (chart && options.beds) {
        beds.emplace(library, cycle, options.twin, *options.beds, options.timeUnit, streams.callLog);
        sinks.add(*beds);
    }
    if (outputs.watch != nullptr) {
        sinks.add(*outputs.watch);
    }
    // After the caller's sink, which clears a progress line before them.
    sinks.add(warnings);

    sinks.started(settings);
    bool completed = false;
    try {
        completed = simulator.run(settings, sinks);
    } catch (const Error &) {
        // A fault in a row read on the way, or in the durations a row set:
        // the sinks end before the message, which a fault they find
        // meanwhile does not replace.
        try {
            sinks.ended();
        } catch (...) {
        }
        throw;
    }
    sinks.ended();
    warnings.finish();
    if (!completed) {
        return reportStop(library, cycle, simulator, "", streams);
    }
    if (table) {
        table->finish();
    }
    if (chart) {
        ChartInput input = chart->input();
        if (beds) {
            input.beds = beds->grids();
        }
        const std::string svg = renderChart(input);
        std::fwrite(svg.data(), 1, svg.size(), outputs.chart);
    }
    return kExitOk;
}

}  // namespace su55if::engine
