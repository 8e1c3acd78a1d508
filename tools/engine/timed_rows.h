// Input and event files: timed tables.
//
//   # the hold switch on from 40 to 60
//   time,hold
//   0,0
//   40,1
//   60,0
//
// CSV read by the same reader as cycle files. The first column is `time`
// (non-decreasing); the other columns are named, each once, from the names
// the caller knows (case ignored); a value holds from its row's time until
// the next row. An empty cell holds the value of the row above (refused in
// the first row). Which columns exist and what they mean is the caller's.
//
// A run reads these files as it goes, one row at a time, the file kept
// open: memory stays within a line's cap and one row however long the file,
// and a fault in a row is found when the row is read.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/csv_reader.h"

namespace su55if::engine {

// What an input or events file may hold: 16 KiB per line, 1,000,000 lines.
inline constexpr ReadLimits kInputFileLimits{"input file", 16 * 1024, 1'000'000};
inline constexpr ReadLimits kEventsFileLimits{"events file", 16 * 1024, 1'000'000};

// The fault of a value in a column, as the end of a message that begins
// with the column's name and the value as written; empty when it is sound.
using ValueCheck = std::function<std::string(std::string_view column, double value)>;

// A timed table read row by row. The header is read and checked when it is
// made; knownColumns are the names allowed after `time`, in lower case,
// requiredColumns those of them a file must have, and `check` judges every
// value as its row is read. Every fault is a Error (exit 2) naming the
// file, line and column; unknown columns are refused with the list of known
// ones.
class TimedRows {
public:
    // Reads `source`; `name` stands for it in messages.
    TimedRows(std::unique_ptr<ByteSource> source, const std::string &name, const ReadLimits &limits, std::span<const std::string> knownColumns,
              std::span<const std::string> requiredColumns = {}, ValueCheck check = {});
    // Reads `text`, as an input file; `name` stands for it in messages.
    TimedRows(std::string_view text, const std::string &name, std::span<const std::string> knownColumns,
              std::span<const std::string> requiredColumns = {}, ValueCheck check = {});
    TimedRows(const TimedRows &) = delete;
    TimedRows &operator=(const TimedRows &) = delete;

    const std::string &name() const { return reader_.name(); }
    // The lower-cased header names after `time`, in file order.
    const std::vector<std::string> &columns() const { return columns_; }
    // The index of `column` in columns(), or columns().size() when absent.
    std::size_t columnIndex(std::string_view column) const;

    // Reads the next row; false at the end of the file.
    bool next();
    // The row read last: its time, the value of columns()[column] and the
    // file's line it is on.
    double time() const { return time_; }
    double value(std::size_t column) const { return values_[column]; }
    std::uint64_t line() const { return line_; }

private:
    void readHeader(std::span<const std::string> knownColumns, std::span<const std::string> requiredColumns);
    void readRow();

    CsvReader reader_;
    ValueCheck check_;
    std::vector<std::string> columns_;
    std::uint64_t headerLine_ = 0;
    std::vector<Field> fields_;  // of the line read last, kept for its storage
    double time_ = 0.0;
    std::vector<double> values_;
    std::uint64_t line_ = 0;  // 0 before the first row
};

// The columns of an input file (besides `time`), for the stage count n:
// hold, check, signal, value, limit, enable, duration1 ... durationN.
std::vector<std::string> inputColumnNames(int stageCount);

// The input file of a run of a cycle of stageCount stages: every durationK
// value a duration (finite, 0 or more).
std::unique_ptr<TimedRows> openInputFile(std::unique_ptr<ByteSource> source, const std::string &name,
                                         int stageCount);

// The events file of a run: columns time, stage and duration, every stage
// one of the cycle's 1 to stageCount, every duration finite, 0 or more. At
// each row, SU55IF_UPSTGTIM sets the stage to the duration.
std::unique_ptr<TimedRows> openEventsFile(std::unique_ptr<ByteSource> source, const std::string &name,
                                          int stageCount);

}  // namespace su55if::engine
