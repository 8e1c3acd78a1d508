// The designer's module: the engine's `check` and `run` for scripts. A call
// takes the cycle (as {name, text} or {name, rows}), the files as {name,
// text} and the options of su55if-host by their long names in camelCase,
// and gives back what `su55if-host -q check|run` prints and exits with for
// the same files under those names: {exitCode, stdout, stderr, chart}, and
// every diagnostic as data ({kind, stage, field, value, rule, fix, ...}).
// writeCycle gives the cycle file of rows, keeping a file's comment lines.
#include <emscripten/bind.h>
#include <emscripten/val.h>
#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/builtin_example.h"
#include "engine/cycle.h"
#include "engine/error.h"
#include "engine/sinks.h"
#include "engine/text.h"
#include "engine/timed_rows.h"
#include "engine/workbench.h"
#include "module/fresh_library.h"
#include "module/gallery.h"
#include "module/options.h"
#include "module/outputs.h"
#include "module/progress.h"

namespace su55if::designer {
namespace {

using emscripten::val;

// One call at a time: the library's stage schedule is the module's one
// (fresh_library.h). A call made while another has not ended, from a run's
// progress function or after a call stopped by an error of the WebAssembly
// machine itself, is refused.
bool calling = false;

class OneCall {
public:
    OneCall() { calling = true; }
    OneCall(const OneCall &) = delete;
    OneCall &operator=(const OneCall &) = delete;
    ~OneCall() { calling = false; }
};

// What an output that became full is called in messages.
std::string outputWhat(const char *name) {
    return std::string(name) == "stdout" ? "the timeline" : std::string(name) == "chart" ? "the chart" : "the messages";
}

// Diagnostics as JavaScript objects.
val diagnosticsOf(const std::vector<engine::Diagnostic> &diagnostics) {
    nlohmann::json list = nlohmann::json::array();
    for (const engine::Diagnostic &d : diagnostics) {
        list.push_back(engine::toJson(d));
    }
    return val::global("JSON").call<val>("parse",
                                         list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

// The result as the host would end: an Error's message on standard error,
// with its exit code; anything else that went wrong with exit code 2. The
// chart, when `withChart` is true once the command is done and it ended
// with an exit code up to `chartUpTo` having drawn one. An output that
// became full is a failure whatever the command returned, with nothing of
// that output kept, and {output, bytes} as outputFull.
template <typename Command>
val result(Command command, const bool &withChart, int chartUpTo = engine::kExitOk) {
    val out = val::object();
    if (calling) {
        out.set("exitCode", engine::kExitError);
        out.set("stdout", std::string());
        out.set("stderr", std::string("su55if-host: busy: the module makes one call at a time, and another has not "
                                      "ended (a call from a run's progress function is refused)\n"));
        out.set("chart", val::null());
        out.set("diagnostics", val::array());
        return out;
    }
    const OneCall one;
    Outputs outputs;
    int exitCode = engine::kExitError;
    // What stopped the command, told once its outputs are known: an output
    // that became full says so in place of the stop it caused.
    std::vector<engine::Diagnostic> stop;
    try {
        exitCode = command(outputs);
    } catch (const engine::Error &error) {
        stop = error.diagnostics();
        exitCode = error.exitCode();
    } catch (const std::exception &error) {
        stop = {engine::diagnostic(engine::DiagnosticKind::other, error.what())};
        exitCode = engine::kExitError;
    }
    for (std::FILE *stream : {outputs.data.stream(), outputs.chart.stream()}) {
        std::fflush(stream);
    }
    const char *full = outputs.full();
    if (full != nullptr) {
        const double megabytes = static_cast<double>(outputs.named(full).size()) / (1 << 20);
        engine::report(outputs.streams(),
                       engine::diagnostic(engine::DiagnosticKind::other,
                                          fmt::format("{} reached {:.3g} MB, the most the module holds in memory: "
                                                      "give a longer --output-interval or a shorter --stop-time, "
                                                      "or write it to a file with su55if-host",
                                                      outputWhat(full), megabytes)));
        exitCode = engine::kExitError;
        val size = val::object();
        size.set("output", std::string(full));
        size.set("bytes", static_cast<double>(outputs.named(full).size()));
        out.set("outputFull", size);
    } else {
        for (const engine::Diagnostic &d : stop) {
            engine::report(outputs.streams(), d);
        }
    }
    out.set("exitCode", exitCode);
    out.set("stdout", full != nullptr ? std::string() : outputs.data.take());
    out.set("stderr", outputs.messages.take());
    out.set("diagnostics", diagnosticsOf(outputs.diagnostics));
    // As the host puts its output files in place: a run's only when all went
    // well, check's grid when drawn, a link that does not fit included.
    std::string chart = withChart && full == nullptr && exitCode <= chartUpTo ? outputs.chart.take() : std::string();
    out.set("chart", chart.empty() ? val::null() : val(std::move(chart)));
    return out;
}

val check(val cycleFile, val given) {
    bool withChart = false;
    return result(
        [&](Outputs &outputs) {
            const CheckCommand options = checkOptions(given);
            withChart = options.chart;
            return engine::checkOrReport(options.settings, outputs.data.stream(), cycleName(cycleFile),
                                         [&](std::optional<engine::Cycle> &cycle) {
                                             cycle = readCycle(cycleFile);
                                             const FreshLibrary library;
                                             return engine::check(library, *cycle, options.settings,
                                                                  outputs.streams(),
                                                                  options.chart ? outputs.chart.stream() : nullptr);
                                         });
        },
        withChart, engine::kExitRejected);
}

val run(val cycleFile, val given, val onProgress) {
    bool withChart = false;
    return result(
        [&](Outputs &outputs) {
            const RunCommand options = runOptions(given);
            withChart = options.chart;
            const engine::Cycle cycle = readCycle(cycleFile);
            const FreshLibrary library;
            engine::RunInputs inputs;
            if (options.inputFile) {
                inputs.inputs = engine::openInputFile(textSource(options.inputFile->text), options.inputFile->name,
                                                      cycle.stageCount());
            }
            if (options.events) {
                inputs.events = engine::openEventsFile(textSource(options.events->text), options.events->name,
                                                       cycle.stageCount());
            }
            if (!onProgress.isUndefined() && !onProgress.isNull() && onProgress.typeOf().as<std::string>() != "function") {
                throw engine::Error("the progress function of run must be a function or null");
            }
            Progress progress(onProgress);
            FullOutputStop stop(outputs);
            engine::Sinks watch;
            watch.add(stop);
            watch.add(progress);
            return engine::run(library, cycle, std::move(inputs), options.settings, outputs.streams(),
                               {nullptr, options.chart ? outputs.chart.stream() : nullptr, &watch});
        },
        withChart);
}

// The cycle file of `rows` ([{duration, partner, name}]), keeping the
// comment lines of `text`, the file they came from (or null):
// {text, diagnostics}, text null when the rows cannot be written.
val writeCycle(val rows, val text) {
    val out = val::object();
    std::vector<engine::Diagnostic> diagnostics;
    try {
        out.set("text", engine::writeCycleFile(stageRows(rows), textOrBytes(text).value_or("")));
    } catch (const engine::Error &error) {
        diagnostics = error.diagnostics();
        out.set("text", val::null());
    }
    out.set("diagnostics", diagnosticsOf(diagnostics));
    return out;
}

val example() {
    val file = val::object();
    file.set("name", std::string(engine::kBuiltinExampleName));
    file.set("text", std::string(engine::kBuiltinExampleText));
    return file;
}

// The gallery's examples: [{name, text, description, beds?, timeUnit?}].
val examples() {
    val list = val::array();
    for (const GalleryExample &example : gallery()) {
        val file = val::object();
        file.set("name", example.name);
        file.set("text", example.text);
        file.set("description", example.description);
        if (example.beds) {
            file.set("beds", *example.beds);
        }
        if (!example.timeUnit.empty()) {
            file.set("timeUnit", example.timeUnit);
        }
        list.call<void>("push", file);
    }
    return list;
}

// The cycle file's stages as typed (engine::typedStages), for a page to
// show a cycle with a fault as it is: {stages: [{name, duration, partner}]},
// or {stages: null, message} when the text has no stages to show.
val stages(val file) {
    val out = val::object();
    try {
        const GivenFile cycle = cycleFile(file);
        val list = val::array();
        for (const engine::StageRow &stage : engine::typedStages(cycle.text, cycle.name)) {
            val row = val::object();
            row.set("name", stage.name);
            row.set("duration", stage.duration);
            row.set("partner", stage.partner);
            list.call<void>("push", row);
        }
        out.set("stages", list);
    } catch (const std::exception &error) {
        out.set("stages", val::null());
        out.set("message", engine::printable(error.what()));
    }
    return out;
}

}  // namespace
}  // namespace su55if::designer

EMSCRIPTEN_BINDINGS(su55if) {
    emscripten::function("check", &su55if::designer::check);
    // run(cycle, options, onProgress): onProgress(time, stopTime) now and
    // then, or null.
    emscripten::function("run", &su55if::designer::run);
    emscripten::function("example", &su55if::designer::example);
    emscripten::function("examples", &su55if::designer::examples);
    emscripten::function("writeCycle", &su55if::designer::writeCycle);
    emscripten::function("stages", &su55if::designer::stages);
    // The most stages a cycle has.
    emscripten::function("stageLimit", +[] { return su55if::engine::kMaxCycleStages; });
}
