#include "interactions/interactions.h"

namespace su55if {

namespace {

// The four flags (code 1, code 2, code -2, code -1) for codes -2..2, each
// row as two aligned pairs so that a row is read in two loads.
using FlagPair = double __attribute__((vector_size(16)));
struct FlagRow {
    FlagPair first;   // code 1, code 2
    FlagPair second;  // code -2, code -1
};
constexpr FlagRow kFlags[5] = {
    {{0.0, 0.0}, {1.0, 0.0}},  // -2
    {{0.0, 0.0}, {0.0, 1.0}},  // -1
    {{0.0, 0.0}, {0.0, 0.0}},  //  0
    {{1.0, 0.0}, {0.0, 0.0}},  //  1
    {{0.0, 1.0}, {0.0, 0.0}},  //  2
};

}  // namespace

void decodeActionType(const double *actionCode, double *flagForCode1Out, double *flagForCode2Out,
                      double *flagForCodeMinus2Out, double *flagForCodeMinus1Out, const CallTail &tail) {
    if (wantsOutputs(tail.mode)) {
        // NaN and out-of-range codes round to kInvalidInteger, which is no
        // code. Unsigned arithmetic: code + 2 cannot overflow.
        const std::uint32_t row = static_cast<std::uint32_t>(roundToInt(*actionCode)) + 2U;
        const FlagRow flags = row < 5U ? kFlags[row] : FlagRow{};
        *flagForCode1Out = flags.first[0];
        *flagForCode2Out = flags.first[1];
        *flagForCodeMinus2Out = flags.second[0];
        *flagForCodeMinus1Out = flags.second[1];
    }
    finishCall(tail);
}

}  // namespace su55if
