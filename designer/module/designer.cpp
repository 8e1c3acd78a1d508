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

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "engine/builtin_example.h"
#include "engine/error.h"
#include "engine/text.h"
#include "engine/timed_rows.h"
#include "engine/workbench.h"
#include "module/fresh_library.h"
#include "module/options.h"
#include "module/progress.h"

namespace su55if::designer {
namespace {

using emscripten::val;

// A stream whose bytes stay in memory.
class MemoryStream {
public:
    MemoryStream() : stream_(open_memstream(&text_, &size_)) {
        if (stream_ == nullptr) {
            throw std::bad_alloc();
        }
    }
    MemoryStream(const MemoryStream &) = delete;
    MemoryStream &operator=(const MemoryStream &) = delete;
    ~MemoryStream() {
        std::fclose(stream_);
        std::free(text_);
    }

    std::FILE *stream() const { return stream_; }
    std::string text() const {
        std::fflush(stream_);
        return std::string(text_ != nullptr ? text_ : "", size_);
    }

private:
    char *text_ = nullptr;
    std::size_t size_ = 0;
    std::FILE *stream_;
};

// What a command prints on standard output and standard error, and its
// diagnostics.
struct Outputs {
    MemoryStream data;
    MemoryStream messages;
    MemoryStream chart;
    std::vector<engine::Diagnostic> diagnostics;

    engine::Streams streams() { return {data.stream(), messages.stream(), nullptr, false, &diagnostics}; }
};

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
// chart, when `withChart` is true once the command is done.
template <typename Command>
val result(Command command, const bool &withChart) {
    Outputs outputs;
    int exitCode = engine::kExitError;
    try {
        exitCode = command(outputs);
    } catch (const engine::Error &error) {
        for (const engine::Diagnostic &d : error.diagnostics()) {
            engine::report(outputs.streams(), d);
        }
        exitCode = error.exitCode();
    } catch (const std::exception &error) {
        engine::report(outputs.streams(), engine::diagnostic(engine::DiagnosticKind::other, error.what()));
        exitCode = engine::kExitError;
    }
    val out = val::object();
    out.set("exitCode", exitCode);
    out.set("stdout", outputs.data.text());
    out.set("stderr", outputs.messages.text());
    out.set("diagnostics", diagnosticsOf(outputs.diagnostics));
    // As the host puts its output files in place: only when all went well.
    out.set("chart", withChart && exitCode == engine::kExitOk ? val(outputs.chart.text()) : val::null());
    return out;
}

constexpr bool kNoChart = false;

val check(val cycleFile, val given) {
    return result(
        [&](Outputs &outputs) {
            const CheckCommand options = checkOptions(given);
            const engine::Cycle cycle = readCycle(cycleFile);
            const FreshLibrary library;
            return engine::check(library, cycle, options.settings, outputs.streams());
        },
        kNoChart);
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
            Progress progress(onProgress);
            return engine::run(library, cycle, std::move(inputs), options.settings, outputs.streams(),
                               {nullptr, options.chart ? outputs.chart.stream() : nullptr, &progress});
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
        std::string original;
        if (text.isString()) {
            original = text.as<std::string>();
        } else if (text.instanceof(val::global("Uint8Array"))) {
            const std::vector<std::uint8_t> bytes = emscripten::convertJSArrayToNumberVector<std::uint8_t>(text);
            original.assign(bytes.begin(), bytes.end());
        }
        out.set("text", engine::writeCycleFile(stageRows(rows), original));
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

}  // namespace
}  // namespace su55if::designer

EMSCRIPTEN_BINDINGS(su55if) {
    emscripten::function("check", &su55if::designer::check);
    // run(cycle, options, onProgress): onProgress(time, stopTime) now and
    // then, or null.
    emscripten::function("run", &su55if::designer::run);
    emscripten::function("example", &su55if::designer::example);
    emscripten::function("writeCycle", &su55if::designer::writeCycle);
}
