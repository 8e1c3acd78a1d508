// Fuzz target: the procedures without shared state, SU55IF_REPTIM (two
// instances with their workspaces) and SU55IF_PFNRSWTCH.
#include "library_model.h"

using namespace su55if::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    runSession(data, size, only(Procedure::REPTIM) | only(Procedure::PFNRSWTCH));
    return 0;
}
