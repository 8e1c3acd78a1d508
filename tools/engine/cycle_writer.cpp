// The one writer of cycle files: what the designer page and Python save.
#include <fmt/format.h>

#include <string>
#include <string_view>
#include <vector>

#include "engine/cycle.h"
#include "engine/diagnostic.h"
#include "engine/encoding.h"
#include "engine/error.h"

namespace su55if::engine {

namespace {

// A cell as the reader reads it back: in double quotes when it holds a
// quote, a comma or blanks at its ends, or would start a comment line.
std::string field(std::string_view text) {
    const bool quote = text.find_first_of("\",") != std::string_view::npos ||
                       (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.back() == ' ' ||
                                          text.back() == '\t' || text.front() == '#'));
    if (!quote) {
        return std::string(text);
    }
    std::string out = "\"";
    for (const char c : text) {
        out += c == '"' ? "\"\"" : std::string(1, c);
    }
    return out + '"';
}

bool isRecord(std::string_view line) {
    const std::size_t first = line.find_first_not_of(" \t");
    return first != std::string_view::npos && line[first] != '#';
}

}  // namespace

std::string writeCycleFile(std::span<const StageRow> rows, std::string_view original) {
    std::vector<Diagnostic> faults;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        for (const std::string *cell : {&rows[k].duration, &rows[k].partner, &rows[k].name}) {
            if (cell->find_first_of("\r\n") != std::string::npos) {
                Diagnostic d = diagnostic(DiagnosticKind::lineBreak, fmt::format("stage {}: a cell of a cycle file cannot hold a line break",
                                                    k + 1),
                             "a line break cannot be saved in a cell");
                d.stage = static_cast<int>(k + 1);
                d.value = *cell;
                d.field = cell == &rows[k].name       ? StageField::name
                          : cell == &rows[k].duration ? StageField::duration
                                                      : StageField::partner;
                faults.push_back(std::move(d));
            }
        }
    }
    if (!faults.empty()) {
        throw Error(std::move(faults));
    }

    // The original's other lines, by the record they come before (0: the
    // header, k: stage k's line); the last group after every record.
    std::vector<std::vector<std::string_view>> before(1);
    std::string_view end = "\n";
    const std::string decoded = decodeText(original);
    std::string_view rest = decoded;
    std::string bom;
    if (rest.starts_with("\xEF\xBB\xBF")) {
        bom = "\xEF\xBB\xBF";
        rest.remove_prefix(3);
    }
    while (!rest.empty()) {
        const std::size_t newline = rest.find('\n');
        std::string_view line = rest.substr(0, newline);
        rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
            end = "\r\n";
        }
        if (isRecord(line)) {
            before.emplace_back();
        } else {
            before.back().push_back(line);
        }
    }
    const std::vector<std::string_view> after = before.size() > 1 ? before.back() : std::vector<std::string_view>();
    if (before.size() > 1) {
        before.pop_back();
    }

    std::string out = bom;
    const auto lines = [&](std::size_t record) {
        if (record < before.size()) {
            for (const std::string_view line : before[record]) {
                out.append(line).append(end);
            }
        }
    };
    lines(0);
    out.append("stage,duration,partner,name").append(end);
    for (std::size_t k = 0; k < rows.size(); ++k) {
        lines(k + 1);
        out += fmt::format("{},{},{},{}", k + 1, field(rows[k].duration), field(rows[k].partner),
                           field(rows[k].name));
        out.append(end);
    }
    // The lines before stages no longer there, then those after the last.
    for (std::size_t record = rows.size() + 1; record < before.size(); ++record) {
        lines(record);
    }
    for (const std::string_view line : after) {
        out.append(line).append(end);
    }
    return out;
}

}  // namespace su55if::engine
