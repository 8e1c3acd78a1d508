#include "input_file.h"

#include <fmt/format.h>

#include <algorithm>

#include "text.h"

namespace su55if::host {

namespace {

TimedTable read(CsvReader &reader, std::span<const std::string> knownColumns) {
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
                table.values.push_back(reader.number(fields[j], table.columns[j - 1]));
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

TimedTable readTimedTable(const std::string &path, std::span<const std::string> knownColumns) {
    CsvReader reader(path, kTimedTableLimits);
    return read(reader, knownColumns);
}

TimedTable parseTimedTable(std::string_view text, const std::string &name,
                           std::span<const std::string> knownColumns) {
    CsvReader reader(text, name, kTimedTableLimits);
    return read(reader, knownColumns);
}

}  // namespace su55if::host
