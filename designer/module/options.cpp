#include "module/options.h"

#include <emscripten/val.h>
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/beds.h"
#include "engine/command_options.h"
#include "engine/error.h"
#include "engine/text.h"

namespace su55if::designer {
namespace {

using emscripten::val;
using engine::Error;

// The options a command takes, as scripts name them.
constexpr std::array<std::string_view, 5> kCheckOptions{"format", "twin", "timeUnit", "beds", "chart"};
constexpr std::array<std::string_view, 13> kRunOptions{"format",    "twin",   "timeUnit", "stopTime",
                                                      "cycles",    "outputInterval", "inputFile", "events",
                                                      "chart",     "chartFrom", "chartTo", "table", "beds"};

std::string typeOf(const val &value) { return value.typeOf().as<std::string>(); }

bool given(const val &value) { return !value.isUndefined() && !value.isNull(); }

// The options object's own names, each one the command takes.
template <std::size_t N>
void refuseUnknown(const val &options, std::string_view command, const std::array<std::string_view, N> &known) {
    if (!given(options)) {
        return;
    }
    if (typeOf(options) != "object") {
        throw Error(fmt::format("the options of {} must be an object", command));
    }
    const std::vector<std::string> names =
        emscripten::vecFromJSArray<std::string>(val::global("Object").call<val>("keys", options));
    for (const std::string &name : names) {
        if (std::find(known.begin(), known.end(), name) == known.end()) {
            throw Error(fmt::format("unknown option {} for {}: the options are {}", engine::quoted(name), command,
                                    engine::listNames(known)));
        }
    }
}

bool flag(const val &options, const char *name) {
    const val value = options[name];
    if (!given(value)) {
        return false;
    }
    if (typeOf(value) != "boolean") {
        throw Error(fmt::format("{} must be true or false", name));
    }
    return value.as<bool>();
}

std::optional<std::string> text(const val &options, const char *name) {
    const val value = options[name];
    if (!given(value)) {
        return std::nullopt;
    }
    if (typeOf(value) != "string") {
        throw Error(fmt::format("{} must be a text", name));
    }
    return value.as<std::string>();
}

// A number option, given as a number or as a text that reads as one on the
// command line; the text it stands for, none when not given.
std::optional<std::string> numberText(const val &options, const char *name) {
    const val value = options[name];
    if (!given(value)) {
        return std::nullopt;
    }
    if (typeOf(value) == "number") {
        // The shortest text that reads back as the same number.
        return fmt::format("{}", value.as<double>());
    }
    if (typeOf(value) == "string") {
        return value.as<std::string>();
    }
    throw Error(fmt::format("{} must be a number", name));
}

GivenFile file(const val &value, const char *defaultName) {
    GivenFile result{defaultName, {}};
    val content = value;
    if (given(value) && typeOf(value) == "object" && !value.instanceof(val::global("Uint8Array"))) {
        const val name = value["name"];
        if (given(name)) {
            if (typeOf(name) != "string") {
                throw Error("a file's name must be a text");
            }
            result.name = name.as<std::string>();
        }
        content = value["text"];
    }
    if (std::optional<std::string> text = textOrBytes(content)) {
        result.text = std::move(*text);
    } else {
        throw Error(fmt::format("{}: a file is a text, bytes (Uint8Array) or {{name, text}}",
                                engine::printable(result.name)));
    }
    return result;
}

std::optional<GivenFile> optionalFile(const val &options, const char *name, const char *defaultName) {
    const val value = options[name];
    if (!given(value)) {
        return std::nullopt;
    }
    return file(value, defaultName);
}

class TextSource final : public engine::ByteSource {
public:
    explicit TextSource(std::string text) : text_(std::move(text)) {}
    std::size_t read(char *buffer, std::size_t size) override {
        const std::size_t n = std::min(size, text_.size() - offset_);
        std::copy_n(text_.data() + offset_, n, buffer);
        offset_ += n;
        return n;
    }

private:
    std::string text_;
    std::size_t offset_ = 0;
};

}  // namespace

CheckCommand checkOptions(const val &given_) {
    refuseUnknown(given_, "check", kCheckOptions);
    const val options = given(given_) ? given_ : val::object();
    CheckCommand command;
    command.settings.json = engine::checkWritesJson(text(options, "format"));
    command.settings.twin = flag(options, "twin");
    command.settings.timeUnit = text(options, "timeUnit").value_or("");
    if (const std::optional<std::string> value = numberText(options, "beds")) {
        command.settings.beds = engine::bedCount(*value);
    }
    command.chart = flag(options, "chart");
    engine::checkChartNeedsBeds(command.chart, command.settings.beds.has_value(), "chart: true", "beds: N");
    return command;
}

RunCommand runOptions(const val &given_) {
    refuseUnknown(given_, "run", kRunOptions);
    const val options = given(given_) ? given_ : val::object();
    RunCommand command;
    engine::RunOptions &settings = command.settings;
    settings.twin = flag(options, "twin");
    settings.table = flag(options, "table");
    settings.timeUnit = text(options, "timeUnit").value_or("");
    command.chart = flag(options, "chart");
    settings.chartFrom = engine::chartTime("chartFrom", numberText(options, "chartFrom"), command.chart, "chart: true");
    settings.chartTo = engine::chartTime("chartTo", numberText(options, "chartTo"), command.chart, "chart: true");
    command.inputFile = optionalFile(options, "inputFile", "inputs.csv");
    command.events = optionalFile(options, "events", "events.csv");
    if (const std::optional<std::string> value = numberText(options, "stopTime")) {
        settings.stopTime = engine::positiveTime("--stop-time", *value);
    }
    if (const std::optional<std::string> value = numberText(options, "cycles")) {
        settings.cycles = engine::cycleCount(*value);
    }
    engine::checkRunEnd(settings.stopTime.has_value(), settings.cycles.has_value());
    if (const std::optional<std::string> value = numberText(options, "outputInterval")) {
        settings.outputInterval = engine::positiveTime("--output-interval", *value);
    }
    const std::optional<std::string> beds = numberText(options, "beds");
    engine::runBedsNeedChart(beds.has_value(), command.chart, "beds", "chart: true");
    if (beds) {
        settings.beds = engine::bedCount(*beds);
    }
    settings.timeline = engine::runTimelineFormat(text(options, "format"), "", settings.table);
    return command;
}

std::vector<engine::StageRow> stageRows(const val &rows) {
    if (!rows.isArray()) {
        throw Error("rows must be a list of {duration, partner, name}");
    }
    std::vector<engine::StageRow> result;
    const auto length = rows["length"].as<std::size_t>();
    for (std::size_t k = 0; k < length; ++k) {
        const val row = rows[k];
        if (typeOf(row) != "object" || row.isNull()) {
            throw Error(fmt::format("row {} must be an object {{duration, partner, name}}", k + 1));
        }
        // A cell as typed; a number as the shortest text that reads back as it.
        const auto cell = [&](const char *key, const char *absent) {
            const val value = row[key];
            if (!given(value)) {
                return std::string(absent);
            }
            if (typeOf(value) == "number") {
                return fmt::format("{}", value.as<double>());
            }
            if (typeOf(value) != "string") {
                throw Error(fmt::format("row {}: {} must be a text or a number", k + 1, key));
            }
            return value.as<std::string>();
        };
        result.push_back({cell("duration", ""), cell("partner", "0"), cell("name", "")});
    }
    return result;
}

std::optional<std::string> textOrBytes(const val &value) {
    if (typeOf(value) == "string") {
        return value.as<std::string>();
    }
    if (value.instanceof(val::global("Uint8Array"))) {
        const std::vector<std::uint8_t> bytes = emscripten::convertJSArrayToNumberVector<std::uint8_t>(value);
        return std::string(bytes.begin(), bytes.end());
    }
    return std::nullopt;
}

GivenFile cycleFile(const val &given_) { return file(given_, "cycle.csv"); }

std::string cycleName(const val &cycle) {
    const bool named = given(cycle) && typeOf(cycle) == "object" && typeOf(cycle["name"]) == "string";
    return named ? cycle["name"].as<std::string>() : "cycle.csv";
}

engine::Cycle readCycle(const val &given_) {
    if (typeOf(given_) == "object" && !given_.isNull() && given(given_["rows"])) {
        const std::optional<std::string> name = text(given_, "name");
        return engine::cycleFromRows(stageRows(given_["rows"]), name.value_or("cycle.csv"));
    }
    const GivenFile cycle = cycleFile(given_);
    return engine::readCycle(textSource(cycle.text), cycle.name);
}

std::unique_ptr<engine::ByteSource> textSource(std::string text) {
    return std::make_unique<TextSource>(std::move(text));
}

}  // namespace su55if::designer
