// Fuzz target: action code decoding, SU55IF_ACTYP and SU55IF_IACTYP.
#include "library_model.h"

using namespace su55if::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    runSession(data, size, only(Procedure::ACTYP) | only(Procedure::IACTYP));
    return 0;
}
