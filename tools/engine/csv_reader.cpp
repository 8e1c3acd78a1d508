#include "engine/csv_reader.h"

#include <fast_float/fast_float.h>
#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <new>
#include <utility>

#include "engine/error.h"
#include "engine/text.h"

namespace su55if::engine {

namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;  // read from a file at a time

bool isBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

ParsedNumber parseNumber(std::string_view text) {
    if (text.empty()) {
        return {0.0, NumberFault::empty};
    }
    std::string_view digits = text;
    if (digits.size() > 1 && digits[0] == '+' && digits[1] != '-' && digits[1] != '+') {
        digits.remove_prefix(1);
    }
    double value = 0.0;
    const char *end = digits.data() + digits.size();
    const auto [stop, error] = fast_float::from_chars(digits.data(), end, value, fast_float::chars_format::general);
    if (stop != end || error != std::errc()) {
        // "4,5": a decimal comma, as some locales write numbers.
        const std::size_t comma = digits.find(',');
        const bool decimalComma = comma != std::string_view::npos && digits.find(',', comma + 1) == std::string_view::npos &&
                                  parseNumber(std::string(digits.substr(0, comma)) + "." +
                                              std::string(digits.substr(comma + 1)))
                                          .fault == NumberFault::none;
        return {0.0, decimalComma ? NumberFault::decimalComma : NumberFault::notNumber};
    }
    // The parser rounds what lies beyond the range of doubles to infinity
    // or 0; `inf` and `nan` written out are numbers that are not finite.
    const std::string_view magnitude = digits.substr(digits[0] == '-' || digits[0] == '+' ? 1 : 0);
    if (std::isnan(value) || (std::isinf(value) && (magnitude[0] == 'i' || magnitude[0] == 'I'))) {
        return {0.0, NumberFault::notFinite};
    }
    const bool nonZeroDigits = magnitude.substr(0, magnitude.find_first_of("eE")).find_first_of("123456789") !=
                               std::string_view::npos;
    if (std::isinf(value) || (value == 0.0 && nonZeroDigits)) {
        return {0.0, NumberFault::outOfRange};
    }
    return {value, NumberFault::none};
}

std::string numberFaultMessage(std::string_view what, std::string_view text, NumberFault fault) {
    switch (fault) {
    case NumberFault::none:
        break;
    case NumberFault::empty:
        return fmt::format("missing value for {}", what);
    case NumberFault::notNumber:
        return fmt::format("{} {} is not a number", what, quoted(text));
    case NumberFault::decimalComma:
        return fmt::format("{} {} is not a number: write it with a decimal point", what, quoted(text));
    case NumberFault::notFinite:
        return fmt::format("{} {} is not a finite number", what, quoted(text));
    case NumberFault::outOfRange:
        return fmt::format("{} {} is out of range: a number other than 0 must lie between 4.9e-324 and "
                           "1.8e308 in magnitude",
                           what, quoted(text));
    }
    return {};
}

Diagnostic numberFault(std::string_view what, std::string_view text, NumberFault fault) {
    Diagnostic d;
    d.message = numberFaultMessage(what, text, fault);
    d.value = std::string(text);
    switch (fault) {
    case NumberFault::none:
        break;
    case NumberFault::empty:
        d.kind = DiagnosticKind::missingValue;
        d.rule = "a number is needed";
        break;
    case NumberFault::notNumber:
        d.kind = DiagnosticKind::notNumber;
        d.rule = "not a number";
        break;
    case NumberFault::decimalComma:
        d.kind = DiagnosticKind::decimalComma;
        d.rule = "use a decimal point";
        break;
    case NumberFault::notFinite:
        d.kind = DiagnosticKind::notFinite;
        d.rule = "a finite number is needed";
        break;
    case NumberFault::outOfRange:
        d.kind = DiagnosticKind::outOfRange;
        d.rule = "a number other than 0 lies between 4.9e-324 and 1.8e308 in magnitude";
        break;
    }
    return d;
}

std::string listNames(std::span<const std::string_view> names) {
    // Whether `b` is `a` with the counting number at its end one higher.
    const auto follows = [](std::string_view a, std::string_view b) {
        const auto split = [](std::string_view name, unsigned long long &number) {
            const std::size_t digits = name.find_last_not_of("0123456789") + 1;
            const char *end = name.data() + name.size();
            const auto [stop, error] = std::from_chars(name.data() + digits, end, number);
            return digits < name.size() && error == std::errc() ? name.substr(0, digits) : std::string_view();
        };
        unsigned long long na = 0;
        unsigned long long nb = 0;
        const std::string_view prefix = split(a, na);
        return !prefix.empty() && prefix == split(b, nb) && nb == na + 1;
    };
    std::vector<std::string> items;
    for (std::size_t i = 0; i < names.size();) {
        std::size_t j = i + 1;
        while (j < names.size() && follows(names[j - 1], names[j])) {
            ++j;
        }
        if (j - i >= 3) {
            items.push_back(fmt::format("{} to {}", names[i], names[j - 1]));
        } else {
            items.insert(items.end(), names.begin() + static_cast<std::ptrdiff_t>(i),
                         names.begin() + static_cast<std::ptrdiff_t>(j));
        }
        i = j;
    }
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        out += i == 0 ? "" : (i + 1 == items.size() ? " and " : ", ");
        out += items[i];
    }
    return out;
}

CsvReader::CsvReader(std::unique_ptr<ByteSource> source, const std::string &name, const ReadLimits &limits)
    : name_(name), limits_(limits), source_(std::move(source)) {
    try {
        buffer_ = std::make_unique<char[]>(kChunkBytes);
    } catch (const std::bad_alloc &) {
        outOfMemory();
    }
}

CsvReader::CsvReader(std::string_view text, const std::string &name, const ReadLimits &limits)
    : name_(name), limits_(limits), pending_(text) {}

CsvReader::~CsvReader() = default;

void CsvReader::fail(std::size_t column, std::string_view message, DiagnosticKind kind) const {
    fail(line_, column, message, kind);
}

void CsvReader::fail(std::uint64_t line, std::size_t column, std::string_view message, DiagnosticKind kind) const {
    Diagnostic d = diagnostic(kind, std::string(message));
    d.file = name_;
    d.line = line;
    d.column = column;
    throw Error(std::move(d));
}

void CsvReader::fail(Diagnostic diagnostic, std::size_t column) const {
    diagnostic.file = name_;
    diagnostic.line = line_;
    diagnostic.column = column;
    throw Error(std::move(diagnostic));
}

void CsvReader::outOfMemory() const {
    const std::string message = fmt::format("out of memory while reading the {}", limits_.kind);
    fail(line_, 0, message, DiagnosticKind::outOfMemory);
}

double CsvReader::number(const Field &field, std::string_view what, int stage, StageField stageField) const {
    const ParsedNumber parsed = parseNumber(field.text);
    if (parsed.fault != NumberFault::none) {
        Diagnostic d = numberFault(what, field.text, parsed.fault);
        d.stage = stage;
        d.field = stageField;
        fail(std::move(d), field.column);
    }
    return parsed.value;
}

bool CsvReader::refill() {
    if (!source_) {
        return false;
    }
    const std::size_t n = source_->read(buffer_.get(), kChunkBytes);
    if (n == 0) {
        return false;
    }
    pending_ = std::string_view(buffer_.get(), n);
    return true;
}

bool CsvReader::nextLine(std::string &line) {
    line.clear();
    if (atEnd_) {
        return false;
    }
    const auto tooLong = [&] {
        fail(0, fmt::format("the line is longer than {} bytes ({} lines hold at most {}); stopped reading",
                            limits_.maxLineBytes, limits_.kind, limits_.maxLineBytes),
             DiagnosticKind::lineTooLong);
    };
    bool started = false;
    bool ended = false;  // by a '\n', not by the end of the input
    for (;;) {
        if (pending_.empty() && !refill()) {
            atEnd_ = true;
            if (!started) {
                return false;
            }
            break;
        }
        if (!started) {
            started = true;
            ++line_;
            if (line_ > limits_.maxLines) {
                fail(0, fmt::format("more than {} lines ({}s hold at most {}); stopped reading", limits_.maxLines,
                                    limits_.kind, limits_.maxLines),
                     DiagnosticKind::tooManyLines);
            }
        }
        const std::size_t newline = pending_.find('\n');
        const std::size_t take = newline == std::string_view::npos ? pending_.size() : newline;
        // One byte more than the cap leaves room for a '\r' before the '\n'.
        if (line.size() + take > limits_.maxLineBytes + 1) {
            tooLong();
        }
        line.append(pending_.substr(0, take));
        if (newline != std::string_view::npos) {
            pending_.remove_prefix(newline + 1);
            ended = true;
            break;
        }
        pending_ = {};
    }
    const bool carriageReturn = line.ends_with('\r');
    if (carriageReturn) {
        line.pop_back();
    }
    if (line.size() > limits_.maxLineBytes) {
        tooLong();
    }
    const bool byteOrderMark = line_ == 1 && line.starts_with("\xEF\xBB\xBF");
    if (byteOrderMark) {
        line.erase(0, 3);  // a byte-order mark some editors write
    }
    decoder_.decode(line, line_);
    if (text_ != nullptr) {
        text_->append(byteOrderMark ? "\xEF\xBB\xBF" : "").append(line);
        text_->append(carriageReturn ? "\r" : "").append(ended ? "\n" : "");
    }
    return true;
}

bool CsvReader::next(std::vector<Field> &fields) {
    try {
        return nextRecord(fields);
    } catch (const std::bad_alloc &) {
        outOfMemory();
    }
}

bool CsvReader::nextRecord(std::vector<Field> &fields) {
    fields.clear();
    std::string &line = current_;
    for (;;) {
        if (!nextLine(line)) {
            lineLength_ = 0;
            return false;
        }
        const std::size_t first = line.find_first_not_of(" \t");
        if (first != std::string::npos && line[first] != '#') {
            break;
        }
    }
    lineLength_ = line.size();
    std::size_t pos = 0;
    for (;;) {
        while (pos < line.size() && isBlank(line[pos])) {
            ++pos;
        }
        Field field;
        field.column = pos + 1;
        if (pos < line.size() && line[pos] == '"') {
            std::size_t i = pos + 1;
            for (;;) {
                if (i >= line.size()) {
                    fail(field.column, "the quote that begins here is not closed on this line",
                         DiagnosticKind::unclosedQuote);
                }
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        field.text += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field.text += line[i++];
            }
            while (i < line.size() && isBlank(line[i])) {
                ++i;
            }
            if (i < line.size() && line[i] != ',') {
                fail(i + 1, "a comma must follow the closing quote", DiagnosticKind::textAfterQuote);
            }
            pos = i;
        } else {
            std::size_t end = line.find(',', pos);
            if (end == std::string::npos) {
                end = line.size();
            }
            std::size_t last = end;
            while (last > pos && isBlank(line[last - 1])) {
                --last;
            }
            field.text.assign(line, pos, last - pos);
            pos = end;
        }
        fields.push_back(std::move(field));
        if (pos >= line.size()) {
            return true;
        }
        ++pos;  // the comma
    }
}

std::vector<std::size_t> matchHeader(const CsvReader &reader, const std::vector<Field> &header,
                                     std::span<const std::string_view> known) {
    std::vector<std::size_t> indices;
    for (const Field &field : header) {
        if (field.text.empty()) {
            reader.fail(field.column, fmt::format("empty column name in the header (the columns are {})",
                                                  listNames(known)),
                        DiagnosticKind::emptyColumnName);
        }
        std::string lower = field.text;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
        const auto found = std::find(known.begin(), known.end(), lower);
        if (found == known.end()) {
            reader.fail(field.column, fmt::format("unknown column {} (the columns are {}){}", quoted(field.text),
                                                  listNames(known), separatorHint(field.text)),
                        DiagnosticKind::unknownColumn);
        }
        const auto index = static_cast<std::size_t>(found - known.begin());
        if (std::find(indices.begin(), indices.end(), index) != indices.end()) {
            reader.fail(field.column, fmt::format("column {} appears twice", quoted(field.text)),
                        DiagnosticKind::repeatedColumn);
        }
        indices.push_back(index);
    }
    return indices;
}

std::string separatorHint(std::string_view text) {
    if (text.find(';') != std::string_view::npos) {
        return "; the file looks semicolon-separated, but columns are separated by commas";
    }
    if (text.find('\t') != std::string_view::npos) {
        return "; the file looks tab-separated, but columns are separated by commas";
    }
    return {};
}

void checkFieldCount(const CsvReader &reader, const std::vector<Field> &fields, std::size_t expected,
                     std::uint64_t headerLine) {
    if (fields.size() > expected) {
        reader.fail(fields[expected].column,
                    fmt::format("too many values: expected {}, as the header on line {} names", expected, headerLine),
                    DiagnosticKind::tooManyValues);
    }
    if (fields.size() < expected) {
        std::string hint;
        for (const Field &field : fields) {
            hint = hint.empty() ? separatorHint(field.text) : hint;
        }
        reader.fail(reader.endColumn(), fmt::format("too few values: expected {}, as the header on line {} names{}",
                                                    expected, headerLine, hint),
                    DiagnosticKind::tooFewValues);
    }
}

}  // namespace su55if::engine
