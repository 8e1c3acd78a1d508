// An SVG picture of a run: the cycle as a bar of stages with the interaction
// links between partners, and under it the action code over time.
#pragma once

#include <string>
#include <vector>

#include "cycle_file.h"
#include "simulation.h"

namespace su55if::host {

std::string renderChart(const Cycle &cycle, const Schedule &schedule, const std::vector<TimelineRow> &rows,
                        const RunSettings &settings, const Simulator &simulator);

}  // namespace su55if::host
