#include "timing/timing.h"

namespace su55if {

void switchSignal(const double *switchLimit, const double *switchValue, const double *switchEnable,
                  double *switchSignalOut, const CallTail &tail) {
    if (wantsOutputs(tail.mode)) {
        // Strict, ordered comparisons: equality and NaN do not switch off.
        const bool off = *switchValue > *switchLimit || *switchEnable < 0.0;
        *switchSignalOut = off ? 0.0 : 1.0;
    }
    finishCall(tail);
}

}  // namespace su55if
