// The options of a call from a script: su55if-host's long options in
// camelCase ({stopTime: 400, twin: true}), read and judged as the host reads
// its command line, and the files given as {name, text}.
#pragma once

#include <emscripten/val.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/csv_reader.h"
#include "engine/cycle.h"
#include "engine/workbench.h"

namespace su55if::designer {

// A file as a script gives it: what messages call it, and its bytes.
struct GivenFile {
    std::string name;
    std::string text;
};

struct CheckCommand {
    engine::CheckOptions settings;
    bool chart = false;  // the grid of the beds, with beds
};

struct RunCommand {
    engine::RunOptions settings;
    std::optional<GivenFile> inputFile;
    std::optional<GivenFile> events;
    bool chart = false;
};

// Throw engine::Error for an option the command does not take or a value
// it cannot use, with the host's message where the host has one.
CheckCommand checkOptions(const emscripten::val &options);
RunCommand runOptions(const emscripten::val &options);

// The cycle file as given: {name, text}, or a bare text named cycle.csv.
GivenFile cycleFile(const emscripten::val &file);

// A text given as a string or as bytes (Uint8Array); none for anything else.
std::optional<std::string> textOrBytes(const emscripten::val &value);
// The cycle: a file ({name, text}, or a bare text named cycle.csv) read and
// checked as the host reads a cycle file, or rows ({name, rows: [{duration,
// partner, name}]}, each cell a text as typed or a number).
engine::Cycle readCycle(const emscripten::val &cycle);
// What messages call that cycle, read or not: its name when it has one,
// else cycle.csv.
std::string cycleName(const emscripten::val &cycle);

// Rows [{duration, partner, name}] as the engine takes them.
std::vector<engine::StageRow> stageRows(const emscripten::val &rows);

// A text as the bytes of a file.
std::unique_ptr<engine::ByteSource> textSource(std::string text);

}  // namespace su55if::designer
