// What `check` says of the beds, from the data of beds.h: without a number
// of beds, one line naming the bed counts the links fit; with one, the grid
// of each bed's stages over a cycle, each link's offset in shifts, and for a
// link that does not fit, why and what would; as text or JSON.
#pragma once

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/beds.h"
#include "engine/cycle.h"
#include "engine/diagnostic.h"

namespace su55if::engine {

// "2, 4 and 6", "4 to 7", "none"...: consecutive counts as a range.
std::string bedCountList(const std::vector<int> &counts);

// Which bed counts every link fits, for a sentence: "the links fit 4, 8
// and 12 beds", none from 2 to the number of stages, or no links at all.
std::string fittingBedsText(bool links, const std::vector<int> &counts, int stageCount);

void printBedsText(std::FILE *out, const Cycle &cycle, const BedsResult &beds, const std::string &timeUnit);

// {"fittingBedCounts": [...], "linkOffsets": [...]} and, with a grid, "beds".
nlohmann::json bedsJson(const BedsResult &beds);

// What a link that does not fit says, in sentences: why, then the fix.
std::vector<std::string> explainMisfit(const Cycle &cycle, const BedGrid &grid, const BedMisfit &misfit,
                                       const std::string &timeUnit);

// The same as a diagnostic at the link's stage and partner, for check's
// JSON and every front end: the why as the message, the fix's text, the
// offsets that would fit as the fix's choices.
Diagnostic misfitDiagnostic(const Cycle &cycle, const BedGrid &grid, const BedMisfit &misfit,
                            const std::string &timeUnit);

}  // namespace su55if::engine
