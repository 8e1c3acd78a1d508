// The chart's colours and dash patterns, links and title as data, for
// programs that draw a run or the beds as the chart does (the sample stream's
// header; check --format json).
#pragma once

#include <nlohmann/json.hpp>

namespace su55if::engine {

// {"stageColours": [stage 1's, stage 2's, ... repeating], "series": [{"name",
// "colour", "dash"}, ...] for the series every chart draws}.
nlohmann::ordered_json chartStyle();

// The lines across a run: {"cycleStart", "schedule", "linkDrift": {"colour",
// "dash"}}.
nlohmann::ordered_json chartMarks();

}  // namespace su55if::engine
