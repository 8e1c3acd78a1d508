#include "interactions/interactions.h"

namespace su55if {

void decodeActionType(const double *actionCode, double *flagForCode1Out, double *flagForCode2Out,
                      double *flagForCodeMinus2Out, double *flagForCodeMinus1Out, const CallTail &tail) {
    if (wantsOutputs(tail.mode)) {
        // NaN and out-of-range codes round to kInvalidInteger, which is no code.
        const std::int32_t code = roundToInt(*actionCode);
        *flagForCode1Out = code == 1 ? 1.0 : 0.0;
        *flagForCode2Out = code == 2 ? 1.0 : 0.0;
        *flagForCodeMinus2Out = code == -2 ? 1.0 : 0.0;
        *flagForCodeMinus1Out = code == -1 ? 1.0 : 0.0;
    }
    finishCall(tail);
}

}  // namespace su55if
