// An interaction-table entry as the library reads it: its magnitude plus a
// half, truncated, so that 0.49999999999999994 names stage 1 (the addition
// rounds); the sign says whether the link is positive or negative. Every
// caller that needs the stage an entry names reads it here.
#pragma once

#include <cmath>

namespace su55if::callkit {

// The number `entry` names, whether or not such a stage exists (a NaN stays
// a NaN).
inline double entryNumber(double entry) { return std::trunc(std::fabs(entry) + 0.5); }

// The stage `entry` names; 0 when that is no stage from 1 to stageCount (an
// entry that reads as 0, one beyond the cycle, a NaN or an infinity).
inline int partnerStage(double entry, int stageCount) {
    const double number = entryNumber(entry);
    return number >= 1.0 && number <= static_cast<double>(stageCount) ? static_cast<int>(number) : 0;
}

}  // namespace su55if::callkit
