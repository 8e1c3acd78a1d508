#include "engine/command_options.h"

#include <fmt/format.h>

#include <cmath>
#include <utility>

#include "engine/csv_reader.h"
#include "engine/error.h"
#include "engine/stage_clock.h"
#include "engine/text.h"

namespace su55if::engine {

namespace {

// A setting's neutral key, from its name as the host (--stop-time) or a
// script (stopTime) gives it, so that every front end can name it in its
// own words.
std::string settingKey(std::string_view option) {
    static constexpr std::pair<std::string_view, std::string_view> kKeys[] = {
        {"--stop-time", "stopTime"}, {"--output-interval", "outputInterval"}, {"--cycles", "cycles"},
        {"--chart-from", "chartFrom"}, {"--chart-to", "chartTo"}, {"--beds", "beds"}};
    for (const auto &[spelling, key] : kKeys) {
        if (option == spelling) {
            return std::string(key);
        }
    }
    return std::string(option);
}

}  // namespace

[[noreturn]] void refuseSetting(std::string_view option, std::string_view value, std::string message, std::string rule) {
    Diagnostic d = diagnostic(DiagnosticKind::badSetting, std::move(message), std::move(rule));
    d.option = settingKey(option);
    d.value = std::string(value);
    throw Error(std::move(d));
}

double settingNumber(std::string_view option, std::string_view text) {
    const ParsedNumber number = parseNumber(text);
    if (number.fault != NumberFault::none) {
        Diagnostic d = numberFault(option, text, number.fault);
        d.option = settingKey(option);
        throw Error(std::move(d));
    }
    return number.value;
}

double positiveTime(std::string_view option, std::string_view text) {
    const double value = settingNumber(option, text);
    if (!(value > 0.0 && std::isfinite(value))) {
        refuseSetting(option, text, fmt::format("{} must be a finite number greater than 0", option),
                      "a finite number greater than 0");
    }
    return value;
}

std::uint64_t cycleCount(std::string_view text) {
    const double value = settingNumber("--cycles", text);
    if (!(value >= 1.0 && value < kMaxCycles && value == std::floor(value))) {
        refuseSetting("--cycles", text,
                      fmt::format("--cycles {}: give a whole number of cycles, 1 or more", printable(text)),
                      "a whole number of cycles, 1 or more");
    }
    return static_cast<std::uint64_t>(value);
}

std::optional<double> chartTime(std::string_view option, const std::optional<std::string> &text, bool chart,
                                std::string_view chartOption) {
    if (!text) {
        return std::nullopt;
    }
    if (!chart) {
        refuseSetting(option, *text, fmt::format("{} says what the chart shows: give {} too", option, chartOption),
                      "the chart's window needs the chart");
    }
    return settingNumber(option, *text);
}

void checkChartNeedsBeds(bool chart, bool beds, std::string_view chartOption, std::string_view bedsOption) {
    if (chart && !beds) {
        throw Error(fmt::format("check {} draws the beds: give {} too", chartOption, bedsOption));
    }
}

void runBedsNeedChart(bool beds, bool chart, std::string_view bedsOption, std::string_view chartOption) {
    if (beds && !chart) {
        throw Error(fmt::format("run {} draws the beds on the chart: give {} too", bedsOption, chartOption));
    }
}

void checkRunEnd(bool stopTime, bool cycles) {
    if (stopTime && cycles) {
        refuseSetting("--stop-time", "", "--stop-time and --cycles both say where the run ends: give one of them",
                      "the run ends at a time or after a number of cycles, not both");
    }
}

bool checkWritesJson(const std::optional<std::string> &given) {
    if (given && *given != "text" && *given != "json") {
        throw Error(fmt::format("--format {}: check writes text or json", printable(*given)));
    }
    return given && *given == "json";
}

namespace {

const char *formatName(TimelineFormat format) {
    switch (format) {
    case TimelineFormat::csv: return "CSV";
    case TimelineFormat::jsonLines: return "JSON lines";
    case TimelineFormat::sampleStream: return "the binary sample stream";
    case TimelineFormat::table: return "the readable table";
    case TimelineFormat::none: break;
    }
    return "";
}

}  // namespace

TimelineFormat runTimelineFormat(const std::optional<std::string> &given, const std::string &file, bool table) {
    std::optional<TimelineFormat> chosen;
    if (given) {
        if (*given == "csv" || *given == "text") {
            chosen = TimelineFormat::csv;
        } else if (*given == "json") {
            chosen = TimelineFormat::jsonLines;
        } else if (*given == "binary") {
            chosen = TimelineFormat::sampleStream;
        } else {
            throw Error(fmt::format("--format {}: run writes csv (also called text), json or binary", printable(*given)));
        }
    }
    std::optional<TimelineFormat> named;
    if (endsWithIgnoringCase(file, ".csv")) {
        named = TimelineFormat::csv;
    } else if (endsWithIgnoringCase(file, ".json") || endsWithIgnoringCase(file, ".jsonl")) {
        named = TimelineFormat::jsonLines;
    } else if (endsWithIgnoringCase(file, ".txt")) {
        named = TimelineFormat::table;
    }
    if (chosen && named && *chosen != *named) {
        throw Error(fmt::format("--output-file {} names a file of {}, but --format {} asks for {}: give a name that "
                                "agrees, or leave out --format",
                                printable(file), formatName(*named), printable(*given), formatName(*chosen)));
    }
    if (named == TimelineFormat::table && table) {
        throw Error(fmt::format("--table prints the table on standard output and --output-file {} writes it to the "
                                "file: give one of them",
                                printable(file)));
    }
    const TimelineFormat format = chosen ? *chosen : named ? *named : TimelineFormat::csv;
    if (table && file.empty() && format != TimelineFormat::csv) {
        throw Error(fmt::format("--table and --format {} do not go together on standard output: the table is for "
                                "reading; give --output-file for the {}",
                                printable(*given), formatName(format)));
    }
    return format == TimelineFormat::csv && file.empty() && table ? TimelineFormat::none : format;
}


}  // namespace su55if::engine
