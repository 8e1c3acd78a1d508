#include "engine/diagnostic.h"

#include <fmt/format.h>

#include <array>
#include <utility>
#include <nlohmann/json.hpp>

#include "engine/messages.h"
#include "engine/text.h"

namespace su55if::engine {

namespace {

constexpr std::array<std::string_view, 38> kKindNames{
    "other",          "cannotRead",        "outOfMemory",      "emptyFile",         "lineTooLong",
    "tooManyLines",   "unclosedQuote",     "textAfterQuote",   "emptyColumnName",   "unknownColumn",
    "repeatedColumn", "missingColumn",     "tooManyValues",    "tooFewValues",      "noStages",
    "tooManyStages",  "stageOutOfOrder",   "missingValue",     "notNumber",         "decimalComma",
    "notFinite",      "outOfRange",        "notWhole",         "negativeDuration",  "badRow",
    "partnerNotInCycle", "partnerIsItself", "oneWayLink",      "linkedDurationsDiffer", "runStopped",
    "cycleNotRunnable", "badSetting",      "linkDrift",        "driftsNotShown",    "lineBreak",
    "bedMisfit",      "nameTooLong",    "readAsWindows1252"};
static_assert(kKindNames.size() == static_cast<std::size_t>(DiagnosticKind::readAsWindows1252) + 1);

}  // namespace

std::string_view kindName(DiagnosticKind kind) {
    const auto index = static_cast<std::size_t>(kind);
    return index < kKindNames.size() ? kKindNames[index] : "other";
}

std::string_view severityName(Severity severity) {
    return severity == Severity::error ? "error" : severity == Severity::warning ? "warning" : "note";
}

std::string_view fieldName(StageField field) {
    switch (field) {
    case StageField::none:
        break;
    case StageField::stage:
        return "stage";
    case StageField::duration:
        return "duration";
    case StageField::partner:
        return "partner";
    case StageField::name:
        return "name";
    }
    return {};
}

Diagnostic diagnostic(DiagnosticKind kind, std::string message, std::string rule) {
    Diagnostic d;
    d.kind = kind;
    d.message = std::move(message);
    d.rule = std::move(rule);
    return d;
}

std::string hostText(const Diagnostic &d) {
    std::string where;
    if (!d.file.empty()) {
        where = printable(d.file);
        if (d.line > 0) {
            where += fmt::format(":{}", d.line);
            if (d.column > 0) {
                where += fmt::format(":{}", d.column);
            }
        } else if (d.stage > 0 && d.field != StageField::none) {
            where += fmt::format(": stage {}", d.stage);
        }
        where += ": ";
    }
    return where + d.message;
}

nlohmann::json toJson(const Diagnostic &d) {
    using nlohmann::json;
    const auto orNull = [](auto value, bool given) { return given ? json(value) : json(nullptr); };
    json values = json::object();
    for (const DiagnosticValue &value : d.values) {
        values[value.name] = value.number;
    }
    json fix = nullptr;
    if (d.fix.stage > 0 || !d.fix.text.empty()) {
        fix = {{"stage", orNull(d.fix.stage, d.fix.stage > 0)},
               {"field", orNull(fieldName(d.fix.field), d.fix.field != StageField::none)},
               {"choices", d.fix.choices},
               {"sameRowAs", orNull(d.fix.sameRowAs, d.fix.sameRowAs > 0)},
               {"namedBy", orNull(d.fix.namedBy, d.fix.namedBy > 0)},
               {"text", d.fix.text}};
    }
    return {
        {"kind", kindName(d.kind)},
        {"severity", severityName(d.severity)},
        {"message", d.message},
        {"rule", orNull(d.rule, !d.rule.empty())},
        {"file", orNull(d.file, !d.file.empty())},
        {"line", orNull(d.line, d.line > 0)},
        {"column", orNull(d.column, d.column > 0)},
        {"stage", orNull(d.stage, d.stage > 0)},
        {"field", orNull(fieldName(d.field), d.field != StageField::none)},
        {"partner", orNull(d.partner, d.partner != 0)},
        {"option", orNull(d.option, !d.option.empty())},
        {"time", orNull(d.time, d.hasTime)},
        {"value", orNull(d.value, d.field != StageField::none || !d.option.empty() || !d.value.empty())},
        {"values", values},
        {"libraryRecords", d.libraryRecords},
        {"fix", fix},
    };
}

void report(const Streams &streams, const Diagnostic &d) {
    if (streams.diagnostics != nullptr) {
        streams.diagnostics->push_back(d);
    }
    if (streams.messagesAsJson) {
        fmt::print(streams.messages, "{}\n",
                   toJson(d).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
        return;
    }
    for (const std::string &record : d.libraryRecords) {
        if (d.kind == DiagnosticKind::runStopped) {
            fmt::print(streams.messages, "{}\n", printable(record));
        }
    }
    printMessage(streams.messages,
                 printable((d.severity == Severity::error ? "" : std::string(severityName(d.severity)) + ": ") +
                           hostText(d)));
    if (!d.fix.text.empty()) {
        printMessage(streams.messages, printable(d.fix.text));
    }
}

}  // namespace su55if::engine
