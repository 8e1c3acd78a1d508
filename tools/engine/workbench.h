// The workbench's two commands as every front end gives them: `check` (the
// library's verdict on a cycle, with the reading of its records) and `run`
// (the timeline, table and chart of a cycle stepped through time). The
// caller gives the library binding, the cycle, the files and the streams;
// the workbench writes data and messages to those streams alone, and reports
// what stops it as an Error with its exit code.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "callkit/binding.h"
#include "engine/cycle.h"
#include "engine/messages.h"
#include "engine/simulation.h"

namespace su55if::engine {

struct CheckOptions {
    bool twin = false;   // SU55IF_IINTTIM instead of SU55IF_INTTIM
    bool json = false;   // the report as JSON instead of text
    std::string timeUnit;
    std::optional<int> beds;  // the grid of this many beds, and whether the links fit them
};

// The check report on streams.data; the exit code: kExitOk, kExitRejected
// (the library refused the cycle) or kExitError (a cycle that cannot run,
// said on streams.messages). With options.beds, kExitRejected too when a
// link does not fit the beds, and the grid's chart on `chart` unless null.
int check(const callkit::Binding &library, const Cycle &cycle, const CheckOptions &options,
          const Streams &streams, std::FILE *chart = nullptr);

// `check` as a front end gives it, from the cycle's file to the verdict:
// `command` reads the cycle into its argument, loads the library and checks
// it. When that throws and the report is JSON, the report of what stopped
// it goes to `data` first (printCheckFailureJson(): the cycle when it was
// read, else `name` alone), so that a program that asked for JSON gets JSON
// whatever fails; the error then goes on as it was, for the front end to
// tell on standard error and end with its exit code.
int checkOrReport(const CheckOptions &options, std::FILE *data, const std::string &name,
                  const std::function<int(std::optional<Cycle> &)> &command);

// How the timeline is written: CSV, JSON lines, the binary sample stream
// for programs (sample_stream.h), the readable summary and table, or not at
// all.
enum class TimelineFormat { csv, jsonLines, sampleStream, table, none };

struct RunOptions {
    bool twin = false;
    TimelineFormat timeline = TimelineFormat::csv;
    bool table = false;                    // the readable table on streams.data
    std::optional<double> stopTime;        // default: two cycles
    std::optional<std::uint64_t> cycles;   // instead of stopTime: to the end of this cycle, however long
    std::optional<double> outputInterval;  // default: 1/20 of the shortest stage
    std::string timeUnit;
    std::optional<double> chartFrom;  // default: from 0
    std::optional<double> chartTo;    // default: the whole run, or its first cycles when it is long
    std::optional<int> beds;          // the chart draws each schedule's grid of this many beds
};

// Where a run's outputs go: the timeline (streams.data unless `timeline` is
// given), the chart (none unless `chart` is given) and a sink of the
// caller's that sees every sample (progress, checks of its files).
struct RunOutputs {
    std::FILE *timeline = nullptr;
    std::FILE *chart = nullptr;
    SampleSink *watch = nullptr;
};

// Runs the cycle with its input and events files; kExitOk when the run
// completed, kExitRejected when the library stopped it (its records and the
// reading of them on streams.messages). Throws Error for a run that cannot
// be made or a fault in a file read on the way.
int run(const callkit::Binding &library, const Cycle &cycle, RunInputs inputs, const RunOptions &options,
        const Streams &streams, const RunOutputs &outputs);

}  // namespace su55if::engine
