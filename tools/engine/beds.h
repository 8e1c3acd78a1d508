// The cycle as a plant with several beds runs it: N beds (columns), each
// running the same cycle, bed b shifted by (b - 1) * T / N behind bed 1
// (T the cycle duration). Stage i of one bed meets its partner stage j in
// another bed only when j began a whole number of shifts before i, k * T / N
// with k from 1 to N - 1; the library already requires the two to last the
// same. How long before a stage began its partner last began is the span
// the library's timing procedure reports (delayForCode1 or delayForCode2):
// the offsets here are those spans, not sums of durations of the engine's.
//
// Everything is data: the grid of each bed's stages over one cycle, each
// link's offset in time and in shifts, and for a link that does not fit
// what would (BedMisfit), for every front end to put in its own words.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "callkit/binding.h"
#include "engine/cycle.h"
#include "engine/simulation.h"

namespace su55if::engine {

// The most beds a grid is drawn for: as many as the stages the library holds.
inline constexpr int kMaxBeds = kMaxCycleStages;

// Offsets within this share of the cycle duration of a whole number of shifts
// count as that number: the library sums durations in floating point, so an
// offset of 3 shifts of 1/3 may come out a few units in the last place off.
inline constexpr double kShiftTolerance = 1e-9;

// A link with its offset as the library reports it: how long before `stage`
// began, `partner` last began (from 0 up to the cycle duration). NaN when
// the library gave no span (an action code other than 1 or 2).
struct LinkOffset {
    int stage = 0;  // the stage whose timing call gave the span
    int partner = 0;
    double offset = 0.0;
};

// The offset of every linked pair (linkedPairs), from one call of the
// interaction timing procedure (SU55IF_INTTIM, with `twin` SU55IF_IINTTIM)
// for the pair's stage, at a time after the first cycle so that a later
// partner is reported too. The schedule must have been defined
// (SU55IF_DEFST) with `schedule` just before. callLog: where --log-calls
// writes, or null.
std::vector<LinkOffset> linkOffsets(const callkit::Binding &library, const Cycle &cycle, const Schedule &schedule,
                                    bool twin, std::FILE *callLog);

// `offset` in shifts of T / N, and the whole number of shifts it is within
// kShiftTolerance; none when it is not one, or not one from 1 to N - 1.
double offsetInShifts(double offset, double cycleDuration, int beds);
std::optional<int> fittingShifts(double offset, double cycleDuration, int beds);

// The bed counts from 2 up to the number of stages (at least 2) at which
// every link fits; with no links, all of them.
std::vector<int> fittingBedCounts(const std::vector<LinkOffset> &links, double cycleDuration, int stageCount);

// A link that does not fit N beds, as data: the pair, its offset in time and
// in shifts, the offsets at which it would fit (k * T / N, k = 1 .. N - 1)
// and the bed counts at which every link fits.
struct BedMisfit {
    static constexpr std::string_view kKind = "link does not fit the beds";
    int stage = 0;
    int partner = 0;
    double offset = 0.0;
    double shifts = 0.0;
    std::vector<double> fittingOffsets;
    std::vector<int> fittingBedCounts;
};

// A stage within one bed's row, in the time of bed 1's cycle (0 to T).
struct BedStage {
    int stage = 0;
    double from = 0.0;
    double to = 0.0;
};

// Where a link meets in the grid: bed `bed` begins `stage` at `time` as bed
// `partnerBed` begins the partner stage, for `duration`.
struct BedMeeting {
    int bed = 0;
    int partnerBed = 0;
    double time = 0.0;
    double duration = 0.0;
};

struct BedLink {
    LinkOffset link;
    double shifts = 0.0;               // the offset in shifts of T / N
    std::optional<int> whole;          // the whole shifts when the link fits
    std::vector<BedMeeting> meetings;  // one per bed when it fits
};

// N beds over one cycle of the schedule.
struct BedGrid {
    int beds = 0;
    double cycleDuration = 0.0;
    double shift = 0.0;                       // T / N
    std::vector<std::vector<BedStage>> rows;  // bed 1 first; a stage across the cycle's end in two parts
    std::vector<BedLink> links;
    std::vector<BedMisfit> misfits;  // of the links, those that do not fit
    std::vector<int> fittingBedCounts;
};

BedGrid bedGrid(const Schedule &schedule, const std::vector<LinkOffset> &links, int beds, int stageCount);

// What check finds of the beds: every link's offset and the bed counts that
// fit, and with a number of beds the grid.
struct BedsResult {
    std::vector<LinkOffset> offsets;
    std::vector<int> fittingBedCounts;
    int stageCount = 0;
    std::optional<BedGrid> grid;
};

// Offsets and fitting bed counts of the schedule just defined, with the
// grid of `beds` when given.
BedsResult checkBeds(const callkit::Binding &library, const Cycle &cycle, const Schedule &schedule, bool twin,
                     std::optional<int> beds, std::FILE *callLog);

// The number of beds given as `--beds`: a whole number from 2 to kMaxBeds;
// else an Error naming the option.
int bedCount(std::string_view text);

}  // namespace su55if::engine
