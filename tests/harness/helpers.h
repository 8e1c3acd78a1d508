// What the tests share beyond the call itself: special reals, exact
// comparisons, interaction tables, and the steps that set up or look at the
// stage table through the stage definition procedure.
#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <vector>

#include "harness/guarded_call.h"
#include "harness/library.h"

namespace su55if::test {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

// Equal bit patterns (sameBits, from guarded_call.h), or both NaN.
bool sameReal(double a, double b);

// An interaction table of `length` entries, all 0.0 but entry `index`
// (1-based).
std::vector<double> linkAt(std::size_t length, std::size_t index, double entry);

// Defines a schedule as a simulator does at the start of a run: SU55IF_DEFST
// at time 0 with the durations both requested and in force. `count` declares
// a number of stages other than the number of durations.
Result defineSchedule(const Library &library, const std::vector<double> &durations, double callMode = 0.0,
                      std::optional<int> count = {});

// Reads the table without changing it (SU55IF_DEFST at a NaN time never
// accepts): output 1 holds slots 1..`slots`, output 3 the slot after `stage`
// (slot 1 once `stage` reaches the stage count), output 5 the cycle duration.
Result reportSchedule(const Library &library, double stage = 1.0, std::size_t slots = SU55IF_MAX_STAGES);

// The stage count as output 3 reveals it: the first stage (0 skipped) whose
// next duration is slot 1's. Slot 1 must differ from 0.0 and from every slot
// up to the count; counts 0 and 1 both read as 1.
int stageCountSeen(const Library &library);

}  // namespace su55if::test
