// What a run reports besides its samples, as JSON objects told from samples
// by their "record" (or, for a warning, "warning") key: the schedule in
// force from a time on, and linked stages that came to last differently.
// The JSON lines and the binary sample stream carry the same objects.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/cycle.h"
#include "engine/simulation.h"

namespace su55if::engine {

// A number as the timeline's files give it: a whole number as an integer,
// one that is not finite as null.
nlohmann::ordered_json jsonNumber(double value);

// The schedule numbered `number` (from 1 in the order of the run), in force
// from `time`: {"record": "schedule", "number", "time", "cycleDuration",
// "durations", "changed": [{"stage", "from", "to"}, ...]}, "changed" listing
// the stages whose duration differs from `before` (the schedule it replaces;
// empty for the first, which has no "changed").
nlohmann::ordered_json scheduleRecord(std::size_t number, double time, const std::vector<double> &durations,
                                      double cycleDuration, const std::vector<double> &before);

// Linked stages that came to last differently: {"warning": "linkDrift",
// "time", "stage", "stageName", "duration", "partner", "partnerName",
// "partnerDuration", "message"}.
nlohmann::ordered_json driftRecord(const Cycle &cycle, const LinkDrift &drift);

// The events applied at one sample, each with its own result: [{"stage",
// "duration", "updateResult"}, ...].
nlohmann::ordered_json updatesRecord(const std::vector<EventUpdate> &updates);

// A record as one line of JSON text (without its newline), as shownJson()
// writes it for a reader that may be a terminal; names that are not UTF-8
// have U+FFFD where their bytes fail.
std::string recordText(const nlohmann::ordered_json &record);

}  // namespace su55if::engine
