#include "cycle_file.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "host_error.h"

namespace su55if::host {

namespace {

enum class Column { stage, duration, partner };
constexpr std::array<std::string_view, 3> kColumnNames{"stage", "duration", "partner"};

// One comma-separated field, blanks around it removed; column is the 1-based
// position of its first character (of where it would be, if empty).
struct Field {
    std::string_view text;
    int column;
};

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::vector<Field> splitFields(std::string_view line) {
    std::vector<Field> fields;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = line.find(',', start);
        if (end == std::string_view::npos) {
            end = line.size();
        }
        std::size_t first = start;
        std::size_t last = end;
        while (first < last && isBlank(line[first])) {
            ++first;
        }
        while (last > first && isBlank(line[last - 1])) {
            --last;
        }
        fields.push_back({line.substr(first, last - first), static_cast<int>(first) + 1});
        if (end == line.size()) {
            return fields;
        }
        start = end + 1;
    }
}

// A decimal number as C writes one, with an optional leading '+'.
// Infinities and NaNs are refused by the caller.
std::optional<double> parseNumber(std::string_view text) {
    if (text.size() > 1 && text[0] == '+' && text[1] != '-') {
        text.remove_prefix(1);
    }
    double value = 0.0;
    const char *end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || stop != end || (error != std::errc() && error != std::errc::result_out_of_range)) {
        return std::nullopt;
    }
    if (error == std::errc::result_out_of_range) {
        return HUGE_VAL;  // reported as not finite
    }
    return value;
}

class Parser {
public:
    explicit Parser(const std::string &name) : name_(name) {}

    Cycle parse(std::string_view text) {
        // A byte-order mark some editors write before the first line.
        if (text.starts_with("\xEF\xBB\xBF")) {
            text.remove_prefix(3);
        }
        Cycle cycle;
        cycle.name = name_;
        bool haveHeader = false;
        int line = 0;
        while (!text.empty()) {
            ++line;
            const std::size_t newline = text.find('\n');
            std::string_view content = text.substr(0, newline);
            text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
            if (content.ends_with('\r')) {
                content.remove_suffix(1);
            }
            const std::size_t firstText = content.find_first_not_of(" \t");
            if (firstText == std::string_view::npos || content[firstText] == '#') {
                continue;
            }
            if (!haveHeader) {
                readHeader(content, line);
                haveHeader = true;
            } else {
                readStage(content, line, cycle);
            }
        }
        if (!haveHeader) {
            fail(1, 0, "the file is empty: the first line must be the header stage,duration,partner");
        }
        if (cycle.durations.empty()) {
            fail(line, 0, "no stages: the header must be followed by one row per stage");
        }
        return cycle;
    }

private:
    const std::string &name_;
    std::vector<Column> columns_;  // the file's columns, in the file's order
    int headerLine_ = 0;

    [[noreturn]] void fail(int line, int column, const std::string &message) const {
        if (column > 0) {
            throw HostError(fmt::format("{}:{}:{}: {}", name_, line, column, message));
        }
        throw HostError(fmt::format("{}:{}: {}", name_, line, message));
    }

    void readHeader(std::string_view content, int line) {
        headerLine_ = line;
        for (const Field &field : splitFields(content)) {
            if (field.text.empty()) {
                fail(line, field.column, "empty column name in the header (expected stage,duration,partner)");
            }
            bool known = false;
            for (std::size_t c = 0; c < kColumnNames.size(); ++c) {
                if (field.text == kColumnNames[c]) {
                    known = true;
                    const auto column = static_cast<Column>(c);
                    if (std::find(columns_.begin(), columns_.end(), column) != columns_.end()) {
                        fail(line, field.column, fmt::format("column \"{}\" appears twice", field.text));
                    }
                    columns_.push_back(column);
                }
            }
            if (!known) {
                fail(line, field.column,
                     fmt::format("unknown column \"{}\" (the columns are stage, duration and partner)", field.text));
            }
        }
        for (std::size_t c = 0; c < kColumnNames.size(); ++c) {
            if (std::find(columns_.begin(), columns_.end(), static_cast<Column>(c)) == columns_.end()) {
                fail(line, static_cast<int>(content.size()) + 1,
                     fmt::format("missing column \"{}\" (the header must be stage,duration,partner)",
                                 kColumnNames[c]));
            }
        }
    }

    void readStage(std::string_view content, int line, Cycle &cycle) const {
        const std::vector<Field> fields = splitFields(content);
        if (fields.size() > columns_.size()) {
            fail(line, fields[columns_.size()].column,
                 fmt::format("too many values: expected {}, as the header on line {} names", columns_.size(),
                             headerLine_));
        }
        if (fields.size() < columns_.size()) {
            fail(line, static_cast<int>(content.size()) + 1,
                 fmt::format("too few values: expected {}, as the header on line {} names", columns_.size(),
                             headerLine_));
        }
        const Field &stageField = fields[columnIndex(Column::stage)];
        const Field &durationField = fields[columnIndex(Column::duration)];
        const Field &partnerField = fields[columnIndex(Column::partner)];

        const double stage = number(stageField, "stage", line);
        const int expected = cycle.stageCount() + 1;
        if (stage != std::trunc(stage)) {
            fail(line, stageField.column, fmt::format("stage \"{}\" is not a whole number", stageField.text));
        }
        if (stage != expected) {
            fail(line, stageField.column,
                 fmt::format("stage {} is out of order: expected stage {} (stages are numbered 1, 2, 3, ... in "
                             "order)",
                             stageField.text, expected));
        }
        if (expected > kMaxCycleStages) {
            fail(line, stageField.column,
                 fmt::format("more than {} stages: the library holds at most {}", kMaxCycleStages, kMaxCycleStages));
        }

        const double duration = number(durationField, "duration", line);
        if (duration < 0.0) {
            fail(line, durationField.column, fmt::format("duration {} is negative", durationField.text));
        }

        const double partner = number(partnerField, "partner", line);
        if (partner != std::trunc(partner)) {
            fail(line, partnerField.column,
                 fmt::format("partner \"{}\" is not a whole number (a stage number, signed, or 0)", partnerField.text));
        }
        cycle.durations.push_back(duration);
        cycle.partners.push_back(partner);
    }

    std::size_t columnIndex(Column column) const {
        return static_cast<std::size_t>(std::find(columns_.begin(), columns_.end(), column) - columns_.begin());
    }

    double number(const Field &field, std::string_view columnName, int line) const {
        if (field.text.empty()) {
            fail(line, field.column, fmt::format("missing value for {}", columnName));
        }
        const std::optional<double> value = parseNumber(field.text);
        if (!value) {
            fail(line, field.column, fmt::format("{} \"{}\" is not a number", columnName, field.text));
        }
        if (!std::isfinite(*value)) {
            fail(line, field.column, fmt::format("{} \"{}\" is not a finite number", columnName, field.text));
        }
        return *value;
    }
};

}  // namespace

Cycle parseCycle(std::string_view text, const std::string &name) { return Parser(name).parse(text); }

Cycle readCycleFile(const std::string &path) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        throw HostError(fmt::format("{}: cannot open the cycle file: {}", path, std::strerror(errno)));
    }
    std::string text;
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        text.append(buffer, n);
    }
    if (std::ferror(file.get()) != 0) {
        throw HostError(fmt::format("{}: cannot read the cycle file: {}", path, std::strerror(errno)));
    }
    return parseCycle(text, path);
}

}  // namespace su55if::host
