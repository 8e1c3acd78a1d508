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
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "csv_reader.h"

namespace su55if::host {

// What an input or event file may hold: 16 KiB per line, 1,000,000 lines.
inline constexpr ReadLimits kTimedTableLimits{"input file", 16 * 1024, 1'000'000};

// A timed table: CSV, first column `time` (non-decreasing), other columns
// named, values held until the next row.
struct TimedTable {
    std::string name;                       // the file as the user named it, for messages
    std::vector<std::string> columns;       // lower-cased header names after `time`, in file order
    std::vector<double> times;              // one per row
    std::vector<double> values;             // row by row: columns[j] from times[i] on at i * columns.size() + j
    std::vector<std::uint64_t> lines;       // the file's line of each row, for messages

    std::size_t rowCount() const { return times.size(); }
    double value(std::size_t row, std::size_t column) const { return values[row * columns.size() + column]; }

    // The index of `column` in columns, or columns.size() when absent.
    std::size_t columnIndex(std::string_view column) const;
};

// The fault of a value in a column, as the end of a message that begins
// with the column's name and the value as written; empty when it is sound.
using ValueCheck = std::function<std::string(std::string_view column, double value)>;

// Reads a timed table; knownColumns are the names allowed after `time`, in
// lower case, requiredColumns those of them a file must have, and `check`
// judges every value. Throws HostError (exit 2) naming file, line and column
// of the first fault; unknown columns are refused with the list of known
// ones.
TimedTable readTimedTable(const std::string &path, std::span<const std::string> knownColumns,
                          std::span<const std::string> requiredColumns = {}, const ValueCheck &check = {});

// The same for text in memory; `name` stands for it in messages.
TimedTable parseTimedTable(std::string_view text, const std::string &name, std::span<const std::string> knownColumns,
                           std::span<const std::string> requiredColumns = {}, const ValueCheck &check = {});

// The columns of an input file (besides `time`), for the stage count n:
// hold, check, signal, value, limit, enable, duration1 ... durationN.
std::vector<std::string> inputColumnNames(int stageCount);

// The input file of a run of a cycle of stageCount stages: every durationK
// value a duration (finite, 0 or more).
TimedTable readInputFile(const std::string &path, int stageCount);

// A duration change at a time: SU55IF_UPSTGTIM's stage and new duration.
struct Event {
    double time;
    double stage;
    double duration;
};

// The events file of a run: columns time, stage and duration, every stage
// one of the cycle's 1 to stageCount, every duration finite, 0 or more.
std::vector<Event> readEventsFile(const std::string &path, int stageCount);

}  // namespace su55if::host
