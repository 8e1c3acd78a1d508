#include "engine/timed_rows.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

#include "engine/text.h"

namespace su55if::engine {

TimedRows::TimedRows(std::unique_ptr<ByteSource> source, const std::string &name, const ReadLimits &limits,
                     std::span<const std::string> knownColumns, std::span<const std::string> requiredColumns,
                     ValueCheck check)
    : reader_(std::move(source), name, limits), check_(std::move(check)) {
    readHeader(knownColumns, requiredColumns);
}

TimedRows::TimedRows(std::string_view text, const std::string &name, std::span<const std::string> knownColumns,
                     std::span<const std::string> requiredColumns, ValueCheck check)
    : reader_(text, name, kInputFileLimits), check_(std::move(check)) {
    readHeader(knownColumns, requiredColumns);
}

std::size_t TimedRows::columnIndex(std::string_view column) const {
    return static_cast<std::size_t>(std::find(columns_.begin(), columns_.end(), column) - columns_.begin());
}

void TimedRows::readHeader(std::span<const std::string> knownColumns, std::span<const std::string> requiredColumns) {
    try {
        std::vector<std::string_view> known{"time"};
        known.insert(known.end(), knownColumns.begin(), knownColumns.end());
        if (!reader_.next(fields_)) {
            reader_.fail(1, 0,
                         fmt::format("the file is empty: the first line must be the header, time then any of {}",
                                     listNames(std::span(known).subspan(1))),
                         DiagnosticKind::emptyFile);
        }
        headerLine_ = reader_.line();
        const std::vector<std::size_t> indices = matchHeader(reader_, fields_, known);
        if (indices.front() != 0) {
            reader_.fail(fields_.front().column, "the first column must be time", DiagnosticKind::missingColumn);
        }
        for (std::size_t j = 1; j < indices.size(); ++j) {
            columns_.emplace_back(known[indices[j]]);
        }
        for (const std::string &required : requiredColumns) {
            if (columnIndex(required) == columns_.size()) {
                reader_.fail(headerLine_, 0,
                             fmt::format("missing column \"{}\": the file needs the columns time, {}", required,
                                         listNames(std::vector<std::string_view>(requiredColumns.begin(),
                                                                                 requiredColumns.end()))),
                             DiagnosticKind::missingColumn);
            }
        }
        values_.resize(columns_.size());
    } catch (const std::bad_alloc &) {
        reader_.outOfMemory();
    }
}

bool TimedRows::next() {
    if (!reader_.next(fields_)) {
        return false;
    }
    try {
        readRow();
    } catch (const std::bad_alloc &) {
        reader_.outOfMemory();
    }
    return true;
}

void TimedRows::readRow() {
    checkFieldCount(reader_, fields_, columns_.size() + 1, headerLine_);
    const double time = reader_.number(fields_[0], "time");
    if (line_ > 0 && time < time_) {
        reader_.fail(fields_[0].column,
                     fmt::format("time {} is earlier than the row above's ({}): times must not decrease",
                                 quoted(fields_[0].text), time_),
                     DiagnosticKind::badRow);
    }
    for (std::size_t j = 0; j < columns_.size(); ++j) {
        const Field &field = fields_[j + 1];
        if (field.text.empty()) {
            // The value of the row above stays.
            if (line_ == 0) {
                reader_.fail(field.column,
                             fmt::format("missing value for {}: an empty cell holds the value of the row above, "
                                         "and this is the first row",
                                         columns_[j]),
                             DiagnosticKind::missingValue);
            }
            continue;
        }
        const double value = reader_.number(field, columns_[j]);
        const std::string fault = check_ ? check_(columns_[j], value) : std::string();
        if (!fault.empty()) {
            reader_.fail(field.column, fmt::format("{} {} {}", columns_[j], quoted(field.text), fault),
                         DiagnosticKind::badRow);
        }
        values_[j] = value;
    }
    time_ = time;
    line_ = reader_.line();
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

std::unique_ptr<TimedRows> openInputFile(std::unique_ptr<ByteSource> source, const std::string &name,
                                         int stageCount) {
    return std::make_unique<TimedRows>(std::move(source), name, kInputFileLimits, inputColumnNames(stageCount),
                                       std::span<const std::string>(), [](std::string_view column, double value) {
                                           return column.starts_with("duration") ? durationFault(value)
                                                                                 : std::string();
                                       });
}

std::unique_ptr<TimedRows> openEventsFile(std::unique_ptr<ByteSource> source, const std::string &name,
                                          int stageCount) {
    const std::vector<std::string> columns{"stage", "duration"};
    return std::make_unique<TimedRows>(
        std::move(source), name, kEventsFileLimits, columns, columns, [stageCount](std::string_view column, double value) {
            if (column == "duration") {
                return durationFault(value);
            }
            return value >= 1.0 && value <= stageCount && value == std::trunc(value)
                       ? std::string()
                       : fmt::format("is not a stage of the cycle (1 to {})", stageCount);
        });
}

}  // namespace su55if::engine
