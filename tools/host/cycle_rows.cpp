#include "host/cycle_rows.h"

#include <fmt/format.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string_view>

#include "engine/error.h"
#include "engine/text.h"
#include "host/input_files.h"

namespace su55if::host {

namespace {

constexpr std::size_t kMaxBytes = 4 * 1024 * 1024;

std::string readAll(const std::string &path) {
    std::string text;
    std::unique_ptr<engine::ByteSource> file =
        path == "-" ? standardInput("cycle rows") : openFile(path, "cycle rows");
    std::vector<char> buffer(64 * 1024);
    while (const std::size_t n = file->read(buffer.data(), buffer.size())) {
        if (text.size() + n > kMaxBytes) {
            throw engine::Error(fmt::format("{}: the cycle rows are longer than {} bytes; stopped reading",
                                            engine::printable(path), kMaxBytes));
        }
        text.append(buffer.data(), n);
    }
    return text;
}

// A cell: a text as it stands, a number as the shortest text that reads
// back as it; a partner or name left out is 0 or none.
std::string cell(const nlohmann::json &row, const std::string &path, std::size_t stage, std::string_view key) {
    const nlohmann::json value = row.contains(key) ? row[std::string(key)] : nlohmann::json();
    if (value.is_string()) {
        return value.get<std::string>();
    }
    if (value.is_number()) {
        return fmt::format("{}", value.get<double>());
    }
    if (value.is_null() && key != "duration") {
        return key == "partner" ? "0" : "";
    }
    throw engine::Error(fmt::format("{}: stage {}: {} must be a number or a text", engine::printable(path), stage,
                                    key));
}

CycleRows readRows(const std::string &path) {
    const nlohmann::json document = nlohmann::json::parse(readAll(path), nullptr, false);
    if (document.is_discarded() || !document.is_object() || !document.contains("stages") ||
        !document["stages"].is_array()) {
        throw engine::Error(fmt::format("{}: not cycle rows: a JSON object with \"stages\", a list of "
                                        "{{\"duration\", \"partner\", \"name\"}}",
                                        engine::printable(path)));
    }
    CycleRows rows;
    rows.name = document.value("name", path);
    rows.text = document.value("text", std::string());
    std::size_t stage = 0;
    for (const nlohmann::json &row : document["stages"]) {
        ++stage;
        if (!row.is_object()) {
            throw engine::Error(fmt::format("{}: stage {}: a row is an object {{\"duration\", \"partner\", "
                                            "\"name\"}}",
                                            engine::printable(path), stage));
        }
        rows.rows.push_back({cell(row, path, stage, "duration"), cell(row, path, stage, "partner"),
                             cell(row, path, stage, "name")});
    }
    return rows;
}

}  // namespace

CycleRows readCycleRows(const std::string &path) {
    try {
        return readRows(path);
    } catch (const nlohmann::json::exception &error) {
        throw engine::Error(
            fmt::format("{}: not cycle rows: {}", engine::printable(path), engine::printable(error.what())));
    }
}

}  // namespace su55if::host
