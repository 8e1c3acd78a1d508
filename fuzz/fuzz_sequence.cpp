// Fuzz target: all nine procedures interleaved on one library instance, so
// that schedules defined by one meet the checks and updates of the others and
// action codes from the timing procedures reach the decoders.
#include "library_model.h"

using namespace su55if::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    runSession(data, size, kAllProcedures);
    return 0;
}
