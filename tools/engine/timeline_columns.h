// The timeline's words, for every writer and the chart: the names of its
// columns and what each action code says.
#pragma once

#include <array>
#include <utility>

namespace su55if::engine {

// The columns every timeline begins with, in order; the indicators follow,
// then the outputs that the run's inputs drive (Simulator::extraOutputs()).
inline constexpr std::array<const char *, 6> kTimingColumns{"time",          "stage",         "elapsed",
                                                            "delayForCode2", "delayForCode1", "actionCode"};

// The indicator outputs' names, in output order; with the twin procedures
// the first three.
inline constexpr std::array<const char *, 4> kFlagNames{"flagForCode1", "flagForCode2", "flagForCodeMinus2",
                                                        "flagForCodeMinus1"};

// The column after the others that names the stage in force, when the cycle
// names its stages.
inline constexpr const char *kStageNameColumn = "stageName";

// What each action code says, as the table's legend and the chart's key
// give it: (codes, meaning).
inline constexpr std::array<std::pair<const char *, const char *>, 4> kActionCodeMeanings{{
    {"2", "the partner last began delayForCode2 before the start of this stage"},
    {"1", "the partner last began delayForCode1 before the start of this stage"},
    {"-1, -2", "the partner comes later in the cycle and has not run before this stage yet, early in the run: no span"},
    {"0", "the stage has no partner"},
}};

}  // namespace su55if::engine
