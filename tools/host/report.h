// What the host prints and writes: the cycle summary, the readable timeline
// and the CSV timeline.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cycle_file.h"
#include "simulation.h"

namespace su55if::host {

// The indicator outputs' names, in output order.
std::vector<std::string> flagNames(bool twin);

// Stages with their start and end within the cycle, the interaction links
// and the cycle duration.
void printSummary(std::FILE *out, const Cycle &cycle, const Schedule &schedule);

// Every sample: time, stage, elapsed, the three timing outputs and the
// indicators, each value as %.17g, with a header row.
std::string timelineCsv(const std::vector<TimelineRow> &rows, bool twin);

// The samples at which the stage or a timing output changes, aligned for
// reading, with a legend of the action codes.
void printTimelineTable(std::FILE *out, const std::vector<TimelineRow> &rows, const Simulator &simulator,
                        const RunSettings &settings);

}  // namespace su55if::host
