// The one reader behind every file the host reads (cycle files, input and
// event files): bounded lines, comma-separated fields, numbers, and messages
// that name the file, line and column.
//
// Every file is hostile until read: a line longer than the cap, or more lines
// than the cap, stops the reading with a message naming the file and line,
// without reading the rest; memory stays within a line's cap whatever the
// file holds (within the file's caps when its text is kept). An allocation
// that fails while a file is read is reported as a Error naming the file
// and line too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/diagnostic.h"
#include "engine/encoding.h"

namespace su55if::engine {

// What one kind of file may hold; `kind` names it in messages ("cycle file").
struct ReadLimits {
    std::string_view kind;
    std::size_t maxLineBytes;  // without the line end
    std::uint64_t maxLines;    // every line counts: header, rows, comments, blank lines
};

// How a text reads as a number: the same syntax in files and on the command
// line. Decimal as C writes it (`10`, `+3`, `-1`, `2.5`, `.5`, `1e3`); no hex,
// no blanks inside, no digit separators.
enum class NumberFault { none, empty, notNumber, decimalComma, notFinite, outOfRange };

struct ParsedNumber {
    double value = 0.0;  // 0 unless fault is none
    NumberFault fault = NumberFault::none;
};

ParsedNumber parseNumber(std::string_view text);

// The message for a fault: `what "text" is not a number` and the like, the
// text quoted by quoted() (text.h).
std::string numberFaultMessage(std::string_view what, std::string_view text, NumberFault fault);

// The diagnostic for a fault: its kind, the host's message and the rule in
// neutral words; the caller says where.
Diagnostic numberFault(std::string_view what, std::string_view text, NumberFault fault);

// One comma-separated field. Blanks around it are dropped; a field in double
// quotes may hold commas, and "" inside stands for one quote. `column` is the
// 1-based byte position where the field begins.
struct Field {
    std::string text;
    std::size_t column = 0;
};

// Where a reader's bytes come from: a file the front end opened, or any
// other stream of bytes.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to `size` bytes into `buffer`; 0 at the end. Throws Error naming
    // the file when reading fails.
    virtual std::size_t read(char *buffer, std::size_t size) = 0;
};

// Reads a file (or text in memory) record by record: skips blank lines and
// lines whose first non-blank character is '#', a leading byte-order mark
// and a '\r' before each line end. Every line is decoded as encoding.h
// says, so that fields are UTF-8 whatever the file's encoding; a column is
// the byte where a field begins in the line so decoded.
class CsvReader {
public:
    // Reads `source`; `name` stands for it in messages.
    CsvReader(std::unique_ptr<ByteSource> source, const std::string &name, const ReadLimits &limits);
    // Reads `text`; `name` stands for it in messages.
    CsvReader(std::string_view text, const std::string &name, const ReadLimits &limits);
    ~CsvReader();
    CsvReader(const CsvReader &) = delete;
    CsvReader &operator=(const CsvReader &) = delete;

    // The next record's fields, or false at the end of the input. Throws
    // Error when a cap is passed, a quote is not closed, reading fails or
    // memory runs out.
    bool next(std::vector<Field> &fields);

    // The line of the record `next` returned last (0 before the first).
    std::uint64_t line() const { return line_; }
    // The line from which the input is read as Windows-1252; 0 while it
    // is UTF-8 (encoding.h).
    std::uint64_t windows1252From() const { return decoder_.windows1252From(); }
    // From now on, every line read (records, comments and blank lines, with
    // their line ends) is appended to `text` as decoded: the input's text
    // in UTF-8, byte for byte the input when that is UTF-8.
    void keepText(std::string *text) { text_ = text; }
    // Where a value missing at the end of the last record would begin.
    std::size_t endColumn() const { return lineLength_ + 1; }
    const std::string &name() const { return name_; }
    const ReadLimits &limits() const { return limits_; }

    // An Error "FILE:LINE:COLUMN: message" for the current line
    // ("FILE:LINE: message" with column 0), of the kind given.
    [[noreturn]] void fail(std::size_t column, std::string_view message,
                           DiagnosticKind kind = DiagnosticKind::other) const;
    [[noreturn]] void fail(std::uint64_t line, std::size_t column, std::string_view message,
                           DiagnosticKind kind = DiagnosticKind::other) const;
    // An Error with `diagnostic`, placed at `column` of the current line.
    [[noreturn]] void fail(Diagnostic diagnostic, std::size_t column) const;
    // The Error for an allocation that failed while reading the current
    // line: for whoever reads the file through this reader to throw on
    // std::bad_alloc.
    [[noreturn]] void outOfMemory() const;

    // Reads `field` as a finite number, or fails with numberFault(), which
    // `stage` and `field` place in the cycle when given.
    double number(const Field &field, std::string_view what, int stage = 0,
                  StageField stageField = StageField::none) const;

private:
    bool nextRecord(std::vector<Field> &fields);
    bool nextLine(std::string &line);
    bool refill();

    std::string name_;
    ReadLimits limits_;
    std::unique_ptr<ByteSource> source_;
    std::unique_ptr<char[]> buffer_;  // what was read from source_ and not yet taken
    std::string_view pending_;        // the unread part of the buffer or the text
    std::string current_;
    LineDecoder decoder_;
    std::string *text_ = nullptr;
    std::uint64_t line_ = 0;
    std::size_t lineLength_ = 0;
    bool atEnd_ = false;
};

// Matches a header against the known column names (lower case), ignoring
// case. Returns for every header field its index in `known`. Refuses empty,
// unknown (listing the known names) and repeated names, with a hint when the
// file looks semicolon- or tab-separated.
std::vector<std::size_t> matchHeader(const CsvReader &reader, const std::vector<Field> &header,
                                     std::span<const std::string_view> known);

// "a, b and c"; a run of three or more names counting up at their end as
// "duration1 to duration100".
std::string listNames(std::span<const std::string_view> names);

// Refuses a record whose field count is not `expected` (the header's).
// "; the file looks semicolon-separated ..." when `text` holds a semicolon
// or a tab where a comma was meant; empty otherwise.
std::string separatorHint(std::string_view text);

void checkFieldCount(const CsvReader &reader, const std::vector<Field> &fields, std::size_t expected,
                     std::uint64_t headerLine);

}  // namespace su55if::engine
