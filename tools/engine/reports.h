// What `check` reports: the cycle with its stages and interaction links,
// the library's verdict and records, and the host's reading of them (the
// pair at fault and a remedy), as text or JSON. The summary of the cycle is
// also the head of a run's readable table.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "engine/beds.h"
#include "engine/cycle.h"
#include "engine/diagnostic.h"
#include "engine/simulation.h"

namespace su55if::engine {

// A stage as messages name it: its number, then in one pair of parentheses
// its name (printable) when it has one and any detail ("stage 1 (feed,
// duration 12)").
std::string stageLabel(const Cycle &cycle, int stage, const char *word = "stage", const std::string &detail = "");

// Stages with their start and end within the cycle, the interaction links
// and the cycle duration, as SU55IF_DEFST reported them.
void printSummary(std::FILE *out, const Cycle &cycle, const Schedule &schedule, const std::string &timeUnit);

// What `check` found: the library's verdict and records, and what the host
// adds to them.
struct CheckResult {
    std::string timingName;            // the interaction timing procedure used
    bool defined = false;              // SU55IF_DEFST accepted the schedule
    bool accepted = false;             // the library accepted the cycle
    std::vector<std::string> records;  // the library's diagnostic records, as it wrote them
    std::vector<std::string> explanation;  // what the host reads from them: the pair at fault and a remedy
    std::vector<int> explained;        // the stages the explanation is about, the one at fault first
    std::string cycleFault;            // a cycle the library accepts but that cannot be run; empty if none
    std::vector<Diagnostic> diagnostics;  // the explanation or the cycle fault, as records
    std::optional<BedsResult> beds;    // of a cycle that can be run: the links' offsets and the beds they fit
};

// The reading of the library's records as a diagnostic: the offending
// stage and its partner with their entries or durations, and the fix (for a
// one-way link whose stage another stage names, that stage as its partner).
// None when the records name no interaction entry.
std::optional<Diagnostic> explainRejection(const Cycle &cycle, const Schedule &schedule,
                                           const std::vector<std::string> &records);

// The stages explainRejection() speaks of: the stage whose entry is at fault,
// then its partner when that is another stage of the cycle. Empty when the
// explanation is.
std::vector<int> explainedStages(const Cycle &cycle, const std::vector<std::string> &records);

// What a drifting link means, in a sentence: the time, both stages with
// their names and durations, and what the library does at the next start.
std::string explainDrift(const Cycle &cycle, const LinkDrift &drift);

// The same as a diagnostic, with the fix: the partner's duration set in the
// row that sets the stage's.
Diagnostic driftDiagnostic(const Cycle &cycle, const LinkDrift &drift);

// That a linked pair parted `more` times after the `shown` warnings about it.
std::string driftsNotShown(const Cycle &cycle, int stage, int partner, std::uint64_t more, std::uint64_t shown);

// That the cycle file was read as Windows-1252 (a note, with the line it
// was from); none for a file read as UTF-8 or a cycle given as rows.
std::optional<Diagnostic> encodingNote(const Cycle &cycle);

// The report, the notes among its diagnostics told after its first line.
void printCheckText(std::FILE *out, const Cycle &cycle, const Schedule &schedule, const CheckResult &result,
                    const std::string &timeUnit);
void printCheckJson(std::FILE *out, const Cycle &cycle, const Schedule &schedule, const CheckResult &result,
                    const std::string &timeUnit);

// The JSON report of a check stopped before its verdict (a cycle file that
// cannot be read or parsed, a library that cannot be loaded): the same
// shape, with `name` and, when the cycle was read (`cycle` not null), its
// stages and links; `timing`, `verdict`, `status` and `cycleDuration` null;
// `diagnostics` what stopped it.
void printCheckFailureJson(std::FILE *out, const std::string &name, const Cycle *cycle,
                           const std::vector<Diagnostic> &diagnostics, const std::string &timeUnit);

}  // namespace su55if::engine
