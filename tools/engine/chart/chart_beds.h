// An SVG picture of the beds: one row per bed over one cycle, each stage a
// box in its colour with its number (and its name where it fits, the full
// name on hover), each linked pair joined across the rows where they begin
// together, a link that does not fit the beds marked with why, and a legend
// of every stage.
#pragma once

#include <string>

#include "engine/beds.h"
#include "engine/chart/chart.h"
#include "engine/cycle.h"

namespace su55if::engine {

std::string renderBedsChart(const Cycle &cycle, const BedGrid &grid, const std::string &timeUnit);

// The grid as the chart draws it, with the bed counts that fit under its
// heading and, for each link that does not fit, why.
ChartBeds chartBeds(const Cycle &cycle, const BedGrid &grid, const std::string &timeUnit);

}  // namespace su55if::engine
