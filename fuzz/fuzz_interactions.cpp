// Fuzz target: interaction checks and timing, SU55IF_INTTIM and SU55IF_IINTTIM,
// against the schedule that the input may define first.
#include "library_model.h"

using namespace su55if::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    runSession(data, size, only(Procedure::INTTIM) | only(Procedure::IINTTIM));
    return 0;
}
