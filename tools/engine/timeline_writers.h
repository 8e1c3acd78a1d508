// The timeline of a run as it is computed, sample by sample: CSV, JSON
// lines, or a readable table of the samples at which something changes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/cycle.h"
#include "engine/simulation.h"
#include "engine/timeline_columns.h"

namespace su55if::engine {

// The indicator outputs' names, in output order.
std::vector<std::string> flagNames(bool twin);

// The columns of a timeline, in order: time, stage, elapsed, the timing
// outputs, the indicators, then the extra outputs that the run's inputs
// drive.
std::vector<std::string> timelineColumns(const Simulator &simulator);

// The values of a sample in the order of timelineColumns(), written to
// as many doubles as there are columns.
std::function<void(const TimelineRow &, double *)> rowValuesOf(const Simulator &simulator);

// Whether the cycle names any of its stages.
bool stageNamed(const Cycle &cycle);

// Each stage's name as the CSV's stageName field (quoted where it must be);
// none when the cycle names no stage.
std::vector<std::string> csvStageNames(const Cycle &cycle);

// Every sample as one CSV row (values as %.17g, so that each reads back as
// the exact double the library returned) after a header row; the stage's
// name last when the cycle names its stages.
std::unique_ptr<SampleSink> csvWriter(std::FILE *out, const Cycle &cycle, const Simulator &simulator);

// Every sample as one JSON object per line, keyed by the CSV's column names
// (stageName as a string); a value that is not finite is null; "updates"
// lists the events applied at the sample, each with its result. The
// schedule in force from time 0 and each change of it, and a linked pair
// whose durations came to differ, are lines of their own (run_records.h).
std::unique_ptr<SampleSink> jsonLinesWriter(std::FILE *out, const Cycle &cycle, const Simulator &simulator);

// The readable timeline: the samples at which the stage, a timing output or
// an output that the inputs drive changes, and the last one, aligned for
// reading; a legend and the count of rows shown at the end (finish()).
class TableWriter : public SampleSink {
public:
    TableWriter(std::FILE *out, const Cycle &cycle, const Simulator &simulator, const RunSettings &settings,
                const std::string &timeUnit);
    void write(const TimelineRow &row) override;
    void scheduleChanged(double time, const std::vector<double> &durations, double cycleDuration) override;
    void finish();

private:
    std::FILE *out_;
    const Cycle &cycle_;
    const Simulator &simulator_;
    std::vector<std::string> names_;
    std::optional<TimelineRow> previous_;
    std::string previousNote_;
    bool previousShown_ = false;
    std::uint64_t samples_ = 0;
    std::uint64_t shown_ = 0;

    void show(const TimelineRow &row, const std::string &note);
};

}  // namespace su55if::engine
