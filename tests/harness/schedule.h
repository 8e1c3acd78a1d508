// Shared steps of tests that set up or look at the stage table through the
// stage definition procedure.
#pragma once

#include <optional>
#include <vector>

#include "harness/host.h"

namespace su55if_test {

// Defines a schedule as a simulator does at the start of a run: SU55IF_DEFST
// at time 0 with the durations both requested and in force. `count` declares
// a number of stages other than the number of durations.
Result defineSchedule(const Library &library, const std::vector<double> &durations, double callMode = 0.0,
                      std::optional<int> count = {});

// Reads the table without changing it (SU55IF_DEFST at a NaN time never
// accepts): output 1 holds slots 1..100, output 3 the slot after `stage`
// (slot 1 once `stage` reaches the stage count), output 5 the cycle duration.
Result reportSchedule(const Library &library, double stage = 1.0);

// The stage count as output 3 reveals it: the first stage (0 skipped) whose
// next duration is slot 1's. Slot 1 must differ from 0.0 and from every slot
// up to the count; counts 0 and 1 both read as 1.
int stageCountSeen(const Library &library);

// Equal bit patterns, or both NaN.
bool sameReal(double a, double b);

}  // namespace su55if_test
