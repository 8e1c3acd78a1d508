// Fuzz target: the stage schedule, SU55IF_DEFST, SU55IF_CHKST and
// SU55IF_UPSTGTIM on one stage table.
#include "library_model.h"

using namespace su55if::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    runSession(data, size, only(Procedure::DEFST) | only(Procedure::CHKST) | only(Procedure::UPSTGTIM));
    return 0;
}
