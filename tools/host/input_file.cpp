#include "input_file.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "text.h"

namespace su55if::host {

namespace {

TimedTable read(CsvReader &reader, std::span<const std::string> knownColumns,
                std::span<const std::string> requiredColumns, const ValueCheck &check) {
    std::vector<std::string_view> known{"time"};
    known.insert(known.end(), knownColumns.begin(), knownColumns.end());

    TimedTable table;
    table.name = reader.name();
    std::vector<Field> fields;
    if (!reader.next(fields)) {
        reader.fail(1, 0,
                    fmt::format("the file is empty: the first line must be the header, time then any of {}",
                                listNames(std::span(known).subspan(1))));
    }
    const std::uint64_t headerLine = reader.line();
    const std::vector<std::size_t> indices = matchHeader(reader, fields, known);
    if (indices.front() != 0) {
        reader.fail(fields.front().column, "the first column must be time");
    }
    for (std::size_t j = 1; j < indices.size(); ++j) {
        table.columns.emplace_back(known[indices[j]]);
    }
    for (const std::string &required : requiredColumns) {
        if (table.columnIndex(required) == table.columns.size()) {
            reader.fail(headerLine, 0,
                        fmt::format("missing column \"{}\": the file needs the columns time, {}", required,
                                    listNames(std::vector<std::string_view>(requiredColumns.begin(),
                                                                            requiredColumns.end()))));
        }
    }
    const std::size_t width = indices.size();

    while (reader.next(fields)) {
        checkFieldCount(reader, fields, width, headerLine);
        const double time = reader.number(fields[0], "time");
        if (!table.times.empty() && time < table.times.back()) {
            reader.fail(fields[0].column,
                        fmt::format("time {} is earlier than the row above's ({}): times must not decrease",
                                    quoted(fields[0].text), table.times.back()));
        }
        for (std::size_t j = 1; j < width; ++j) {
            if (fields[j].text.empty()) {
                if (table.times.empty()) {
                    reader.fail(fields[j].column,
                                fmt::format("missing value for {}: an empty cell holds the value of the row above, "
                                            "and this is the first row",
                                            table.columns[j - 1]));
                }
                table.values.push_back(table.value(table.rowCount() - 1, j - 1));
            } else {
                const double value = reader.number(fields[j], table.columns[j - 1]);
                const std::string fault = check ? check(table.columns[j - 1], value) : std::string();
                if (!fault.empty()) {
                    reader.fail(fields[j].column,
                                fmt::format("{} {} {}", table.columns[j - 1], quoted(fields[j].text), fault));
                }
                table.values.push_back(value);
            }
        }
        table.times.push_back(time);
        table.lines.push_back(reader.line());
    }
    return table;
}

}  // namespace

std::size_t TimedTable::columnIndex(std::string_view column) const {
    return static_cast<std::size_t>(std::find(columns.begin(), columns.end(), column) - columns.begin());
}

TimedTable readTimedTable(const std::string &path, std::span<const std::string> knownColumns,
                          std::span<const std::string> requiredColumns, const ValueCheck &check) {
    CsvReader reader(path, kTimedTableLimits);
    return read(reader, knownColumns, requiredColumns, check);
}

TimedTable parseTimedTable(std::string_view text, const std::string &name, std::span<const std::string> knownColumns,
                           std::span<const std::string> requiredColumns, const ValueCheck &check) {
    CsvReader reader(text, name, kTimedTableLimits);
    return read(reader, knownColumns, requiredColumns, check);
}

std::vector<std::string> inputColumnNames(int stageCount) {
    std::vector<std::string> names{"hold", "check", "signal", "value", "limit", "enable"};
    for (int stage = 1; stage <= stageCount; ++stage) {
        names.push_back(fmt::format("duration{}", stage));
    }
    return names;
}

namespace {

std::string durationFault(double duration) {
    return duration >= 0.0 && std::isfinite(duration) ? std::string()
                                                      : "is not a duration (a finite number, 0 or more)";
}

}  // namespace

TimedTable readInputFile(const std::string &path, int stageCount) {
    return readTimedTable(path, inputColumnNames(stageCount), {}, [](std::string_view column, double value) {
        return column.starts_with("duration") ? durationFault(value) : std::string();
    });
}

std::vector<Event> readEventsFile(const std::string &path, int stageCount) {
    const std::vector<std::string> columns{"stage", "duration"};
    const TimedTable table = readTimedTable(path, columns, columns, [&](std::string_view column, double value) {
        if (column == "duration") {
            return durationFault(value);
        }
        return value >= 1.0 && value <= stageCount && value == std::trunc(value)
                   ? std::string()
                   : fmt::format("is not a stage of the cycle (1 to {})", stageCount);
    });
    const std::size_t stage = table.columnIndex("stage");
    const std::size_t duration = table.columnIndex("duration");
    std::vector<Event> events;
    for (std::size_t row = 0; row < table.rowCount(); ++row) {
        events.push_back({table.times[row], table.value(row, stage), table.value(row, duration)});
    }
    return events;
}

}  // namespace su55if::host
