#include "engine/cycle.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>

#include "callkit/table_entry.h"
#include "engine/diagnostic.h"
#include "engine/error.h"
#include "engine/text.h"

namespace su55if::engine {

namespace {

enum Column : std::size_t { kStage, kDuration, kPartner, kName, kColumnCount };
constexpr std::array<std::string_view, kColumnCount> kColumnNames{"stage", "duration", "partner", "name"};

// A number that must be whole, such as a stage number.
std::optional<Diagnostic> wholeNumber(std::string_view text, std::string_view what, std::string_view meaning,
                                      double &value) {
    const ParsedNumber parsed = parseNumber(text);
    if (parsed.fault != NumberFault::none) {
        return numberFault(what, text, parsed.fault);
    }
    if (parsed.value != std::trunc(parsed.value)) {
        Diagnostic d = diagnostic(DiagnosticKind::notWhole, fmt::format("{} {} is not a whole number{}", what, quoted(text), meaning), "a whole number is needed");
        d.value = std::string(text);
        return d;
    }
    value = parsed.value;
    return std::nullopt;
}

// Stage `stage`'s duration and partner from their texts: the first fault of
// each, placed at the stage's field.
std::vector<Diagnostic> readStage(int stage, std::string_view durationText, const std::string_view *partnerText,
                                  double &duration, double &partner) {
    std::vector<Diagnostic> faults;
    const auto at = [&](Diagnostic d, StageField field) {
        d.stage = stage;
        d.field = field;
        faults.push_back(std::move(d));
    };
    const ParsedNumber parsed = parseNumber(durationText);
    if (parsed.fault != NumberFault::none) {
        at(numberFault("duration", durationText, parsed.fault), StageField::duration);
    } else if (parsed.value < 0.0) {
        Diagnostic d = diagnostic(DiagnosticKind::negativeDuration, fmt::format("duration {} is negative", quoted(durationText)), "a duration is 0 or more");
        d.value = std::string(durationText);
        at(std::move(d), StageField::duration);
    }
    duration = parsed.value;
    partner = 0.0;
    if (partnerText != nullptr) {
        if (std::optional<Diagnostic> fault =
                wholeNumber(*partnerText, "partner", " (a stage number, signed, or 0)", partner)) {
            at(std::move(*fault), StageField::partner);
        }
    }
    return faults;
}

// A stage's name longer than kMaxNameBytes; the caller says where.
std::optional<Diagnostic> nameFault(int stage, std::string_view name) {
    if (name.size() <= kMaxNameBytes) {
        return std::nullopt;
    }
    Diagnostic d = diagnostic(DiagnosticKind::nameTooLong,
                              fmt::format("name {} is {} bytes long: a name holds at most {}", quoted(name),
                                          name.size(), kMaxNameBytes),
                              fmt::format("a name holds at most {} bytes", kMaxNameBytes));
    d.stage = stage;
    d.field = StageField::name;
    d.value = std::string(name);
    return d;
}

// The cycle's name (a file's, or the one given with its rows), refused
// whole when longer than kMaxCycleNameBytes: the message shows its start.
void checkCycleName(std::string_view name) {
    if (name.size() > kMaxCycleNameBytes) {
        throw Error(diagnostic(DiagnosticKind::nameTooLong,
                               fmt::format("cycle name {} is {} bytes long: a cycle's name holds at most {}",
                                           quoted(name), name.size(), kMaxCycleNameBytes),
                               fmt::format("a cycle's name holds at most {} bytes", kMaxCycleNameBytes)));
    }
}

// The header's columns (kColumnNames' indices), stage and duration among
// them; `headerLine` its line.
std::vector<std::size_t> readHeader(CsvReader &reader, std::uint64_t &headerLine) {
    std::vector<Field> fields;
    if (!reader.next(fields)) {
        reader.fail(1, 0,
                    "the file is empty: the first line must be the header stage,duration (then, if wanted, "
                    "partner and name)",
                    DiagnosticKind::emptyFile);
    }
    headerLine = reader.line();
    std::vector<std::size_t> columns = matchHeader(reader, fields, kColumnNames);
    for (const Column required : {kStage, kDuration}) {
        if (std::find(columns.begin(), columns.end(), required) == columns.end()) {
            reader.fail(reader.endColumn(),
                        fmt::format("missing column \"{}\" (the header needs stage and "
                                    "duration; partner and name may follow)",
                                    kColumnNames[required]),
                        DiagnosticKind::missingColumn);
        }
    }
    return columns;
}

Cycle read(CsvReader &reader) {
    checkCycleName(reader.name());
    Cycle cycle;
    cycle.name = reader.name();
    cycle.text.emplace();
    reader.keepText(&*cycle.text);
    std::uint64_t headerLine = 0;
    const std::vector<std::size_t> columns = readHeader(reader, headerLine);
    std::vector<Field> fields;
    while (reader.next(fields)) {
        checkFieldCount(reader, fields, columns.size(), headerLine);
        std::array<const Field *, kColumnCount> field{};
        for (std::size_t i = 0; i < columns.size(); ++i) {
            field[columns[i]] = &fields[i];
        }

        const int expected = cycle.stageCount() + 1;
        double stage = 0.0;
        if (std::optional<Diagnostic> fault = wholeNumber(field[kStage]->text, "stage", "", stage)) {
            fault->stage = expected;
            fault->field = StageField::stage;
            reader.fail(std::move(*fault), field[kStage]->column);
        }
        if (stage != expected) {
            Diagnostic d = diagnostic(DiagnosticKind::stageOutOfOrder, fmt::format("stage {} is out of order: expected stage {} (stages are numbered 1, "
                                                "2, 3, ... in order)",
                                                quoted(field[kStage]->text), expected), "stages are numbered 1, 2, 3, ... in order");
            d.stage = expected;
            d.field = StageField::stage;
            d.value = field[kStage]->text;
            reader.fail(std::move(d), field[kStage]->column);
        }
        if (expected > kMaxCycleStages) {
            Diagnostic d = diagnostic(DiagnosticKind::tooManyStages, fmt::format("more than {} stages: the library holds at most {}", kMaxCycleStages,
                                                kMaxCycleStages));
            d.stage = expected;
            reader.fail(std::move(d), field[kStage]->column);
        }
        const std::string_view partnerText =
            field[kPartner] != nullptr ? std::string_view(field[kPartner]->text) : std::string_view();
        double duration = 0.0;
        double partner = 0.0;
        std::vector<Diagnostic> faults = readStage(expected, field[kDuration]->text,
                                                   field[kPartner] != nullptr ? &partnerText : nullptr, duration,
                                                   partner);
        if (!faults.empty()) {
            const bool inDuration = faults.front().field == StageField::duration;
            reader.fail(std::move(faults.front()), field[inDuration ? kDuration : kPartner]->column);
        }
        if (field[kName] != nullptr) {
            if (std::optional<Diagnostic> fault = nameFault(expected, field[kName]->text)) {
                reader.fail(std::move(*fault), field[kName]->column);
            }
        }
        cycle.durations.push_back(duration);
        cycle.partners.push_back(partner);
        cycle.stageNames.push_back(field[kName] == nullptr ? std::string() : field[kName]->text);
    }
    if (cycle.durations.empty()) {
        reader.fail(headerLine, 0, "no stages: the header must be followed by one row per stage",
                    DiagnosticKind::noStages);
    }
    cycle.windows1252From = reader.windows1252From();
    return cycle;
}

}  // namespace

std::vector<StageRow> typedStages(std::string_view text, const std::string &name) {
    CsvReader reader(text, name, kCycleFileLimits);
    std::uint64_t headerLine = 0;
    const std::vector<std::size_t> columns = readHeader(reader, headerLine);
    std::vector<StageRow> stages;
    std::vector<Field> fields;
    while (reader.next(fields)) {
        StageRow &stage = stages.emplace_back();
        // Fields past the header's stay in the last column, as typed.
        for (std::size_t i = columns.size(); i < fields.size(); ++i) {
            fields[columns.size() - 1].text += "," + fields[i].text;
        }
        for (std::size_t i = 0; i < columns.size() && i < fields.size(); ++i) {
            std::string *cell = columns[i] == kDuration ? &stage.duration
                                : columns[i] == kPartner ? &stage.partner
                                : columns[i] == kName    ? &stage.name
                                                         : nullptr;
            if (cell != nullptr) {
                *cell = std::move(fields[i].text);
            }
        }
    }
    return stages;
}

Cycle parseCycle(std::string_view text, const std::string &name) {
    CsvReader reader(text, name, kCycleFileLimits);
    return read(reader);
}

Cycle readCycle(std::unique_ptr<ByteSource> source, const std::string &name) {
    CsvReader reader(std::move(source), name, kCycleFileLimits);
    return read(reader);
}

Cycle cycleFromRows(std::span<const StageRow> rows, const std::string &name) {
    checkCycleName(name);
    if (rows.empty()) {
        throw Error(diagnostic(DiagnosticKind::noStages, fmt::format("{}: no stages: a cycle has one row per stage", printable(name)), "a cycle has one row per stage"));
    }
    if (rows.size() > static_cast<std::size_t>(kMaxCycleStages)) {
        throw Error(diagnostic(DiagnosticKind::tooManyStages, fmt::format("{}: more than {} stages: the library holds at most {}",
                                                      printable(name), kMaxCycleStages, kMaxCycleStages), fmt::format("the library holds at most {} stages", kMaxCycleStages)));
    }
    Cycle cycle;
    cycle.name = name;
    std::vector<Diagnostic> faults;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        double duration = 0.0;
        double partner = 0.0;
        const std::string_view partnerText = rows[k].partner;
        for (Diagnostic &fault :
             readStage(static_cast<int>(k + 1), rows[k].duration, &partnerText, duration, partner)) {
            fault.file = name;
            faults.push_back(std::move(fault));
        }
        if (std::optional<Diagnostic> fault = nameFault(static_cast<int>(k + 1), rows[k].name)) {
            fault->file = name;
            faults.push_back(std::move(*fault));
        }
        cycle.durations.push_back(duration);
        cycle.partners.push_back(partner);
        cycle.stageNames.push_back(rows[k].name);
    }
    if (!faults.empty()) {
        throw Error(std::move(faults));
    }
    return cycle;
}

std::vector<LinkedPair> linkedPairs(const Cycle &cycle) {
    const int count = cycle.stageCount();
    const auto partnerOf = [&](int stage) {
        return callkit::partnerStage(cycle.partners[static_cast<std::size_t>(stage - 1)], count);
    };
    std::vector<LinkedPair> pairs;
    for (int stage = 1; stage <= count; ++stage) {
        const int partner = partnerOf(stage);
        if (partner == 0 || partner == stage) {
            continue;
        }
        // The partner points back (the pair once), or has no link of its own.
        const int back = partnerOf(partner);
        if ((back == stage && stage < partner) || back == 0) {
            pairs.push_back({stage, partner});
        }
    }
    return pairs;
}

}  // namespace su55if::engine
