// The command line of su55if-host: its commands and options, the help of
// each, and what it says of a mistyped command or option, in its own words.
#pragma once

#include <optional>
#include <string>

#include "engine/workbench.h"

namespace su55if::host {

enum class Command { example, check, run, writeCycle };

// The command line as read: what the engine takes for each command, as its
// own option structs, and what the host itself does with the rest (the
// files it opens, where its messages go).
struct Options {
    Command command = Command::example;
    std::string library;
    bool logCalls = false;
    bool quiet = false;
    bool messagesJson = false;  // every message a JSON line on standard error, for programs
    bool rows = false;          // CYCLE holds the cycle as JSON rows (host/cycle_rows.h)
    std::string cycleOutput;    // write-cycle: the cycle file to write
    bool version = false;
    std::string cyclePath;  // empty: the built-in example
    engine::CheckOptions check;
    engine::RunOptions run;  // timeline: to standard output, or to the output file
    std::string outputFile;
    std::string chartFile;
    std::string inputFile;
    std::string eventsFile;
};

// Reads the command line into `options`. Returns an exit code when nothing
// more is to be done (help printed); throws engine::Error, with exit code
// 2, for a command line that cannot be used.
std::optional<int> parseCommandLine(int argc, char **argv, Options &options);

}  // namespace su55if::host
