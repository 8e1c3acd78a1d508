#include "engine/cycle.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>

#include "callkit/table_entry.h"
#include "engine/error.h"
#include "engine/text.h"

namespace su55if::engine {

namespace {

enum Column : std::size_t { kStage, kDuration, kPartner, kName, kColumnCount };
constexpr std::array<std::string_view, kColumnCount> kColumnNames{"stage", "duration", "partner", "name"};

// A number that must be whole, such as a stage number.
double wholeNumber(const CsvReader &reader, const Field &field, std::string_view what, std::string_view meaning) {
    const double value = reader.number(field, what);
    if (value != std::trunc(value)) {
        reader.fail(field.column, fmt::format("{} {} is not a whole number{}", what, quoted(field.text), meaning));
    }
    return value;
}

// The header's columns (kColumnNames' indices), stage and duration among
// them; `headerLine` its line.
std::vector<std::size_t> readHeader(CsvReader &reader, std::uint64_t &headerLine) {
    std::vector<Field> fields;
    if (!reader.next(fields)) {
        reader.fail(1, 0,
                    "the file is empty: the first line must be the header stage,duration (then, if wanted, "
                    "partner and name)");
    }
    headerLine = reader.line();
    std::vector<std::size_t> columns = matchHeader(reader, fields, kColumnNames);
    for (const Column required : {kStage, kDuration}) {
        if (std::find(columns.begin(), columns.end(), required) == columns.end()) {
            reader.fail(reader.endColumn(), fmt::format("missing column \"{}\" (the header needs stage and "
                                                        "duration; partner and name may follow)",
                                                        kColumnNames[required]));
        }
    }
    return columns;
}

Cycle read(CsvReader &reader) {
    Cycle cycle;
    cycle.name = reader.name();
    std::uint64_t headerLine = 0;
    const std::vector<std::size_t> columns = readHeader(reader, headerLine);
    std::vector<Field> fields;
    while (reader.next(fields)) {
        checkFieldCount(reader, fields, columns.size(), headerLine);
        std::array<const Field *, kColumnCount> field{};
        for (std::size_t i = 0; i < columns.size(); ++i) {
            field[columns[i]] = &fields[i];
        }

        const double stage = wholeNumber(reader, *field[kStage], "stage", "");
        const int expected = cycle.stageCount() + 1;
        if (stage != expected) {
            reader.fail(field[kStage]->column,
                        fmt::format("stage {} is out of order: expected stage {} (stages are numbered 1, 2, 3, ... "
                                    "in order)",
                                    quoted(field[kStage]->text), expected));
        }
        if (expected > kMaxCycleStages) {
            reader.fail(field[kStage]->column, fmt::format("more than {} stages: the library holds at most {}",
                                                           kMaxCycleStages, kMaxCycleStages));
        }
        const double duration = reader.number(*field[kDuration], "duration");
        if (duration < 0.0) {
            reader.fail(field[kDuration]->column,
                        fmt::format("duration {} is negative", quoted(field[kDuration]->text)));
        }
        const double partner = field[kPartner] == nullptr
                                   ? 0.0
                                   : wholeNumber(reader, *field[kPartner], "partner",
                                                 " (a stage number, signed, or 0)");
        cycle.durations.push_back(duration);
        cycle.partners.push_back(partner);
        cycle.stageNames.push_back(field[kName] == nullptr ? std::string() : field[kName]->text);
    }
    if (cycle.durations.empty()) {
        reader.fail(headerLine, 0, "no stages: the header must be followed by one row per stage");
    }
    return cycle;
}

}  // namespace

std::vector<TypedStage> typedStages(std::string_view text, const std::string &name) {
    CsvReader reader(text, name, kCycleFileLimits);
    std::uint64_t headerLine = 0;
    const std::vector<std::size_t> columns = readHeader(reader, headerLine);
    std::vector<TypedStage> stages;
    std::vector<Field> fields;
    while (reader.next(fields)) {
        TypedStage &stage = stages.emplace_back();
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
