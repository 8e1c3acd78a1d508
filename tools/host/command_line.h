// The command line of su55if-host: its commands and options, the help of
// each, and what it says of a mistyped command or option, in its own words.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/workbench.h"

namespace su55if::host {

enum class Command { example, check, run };

struct Options {
    Command command = Command::example;
    std::string library;
    bool logCalls = false;
    bool quiet = false;
    bool json = false;  // check: the report as JSON
    engine::TimelineFormat timeline = engine::TimelineFormat::csv;  // run: to standard output, or to the output file
    std::string cyclePath;  // empty: the built-in example
    bool twin = false;
    std::optional<int> beds;  // check: the grid of this many beds, and whether the links fit them
    bool table = false;  // run: the table on standard output besides the timeline in a file
    std::optional<double> stopTime;        // default: two cycles
    std::optional<std::uint64_t> cycles;   // instead of stopTime: to the end of this cycle
    std::optional<double> outputInterval;  // default: 1/20 of the shortest stage
    std::string outputFile;
    std::string chartFile;
    std::optional<double> chartFrom;  // default: from 0
    std::optional<double> chartTo;    // default: the whole run, or its first cycles when it is long
    std::string inputFile;
    std::string eventsFile;
    std::string timeUnit;
    bool version = false;
};

// Reads the command line into `options`. Returns an exit code when nothing
// more is to be done (help printed); throws engine::Error, with exit code
// 2, for a command line that cannot be used.
std::optional<int> parseCommandLine(int argc, char **argv, Options &options);

}  // namespace su55if::host
