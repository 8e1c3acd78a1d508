// The chart's colours and dash patterns, links and title as data, for
// programs that draw a run as the chart does (the sample stream's header).
#pragma once

#include <nlohmann/json.hpp>

namespace su55if::engine {

// {"stageColours": [stage 1's, stage 2's, ... repeating], "series": [{"name",
// "colour", "dash"}, ...] for the series every chart draws, "marks":
// {"cycleStart", "schedule", "linkDrift": {"colour", "dash"}}}.
nlohmann::ordered_json chartStyle();

}  // namespace su55if::engine
