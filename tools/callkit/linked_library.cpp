#include <array>
#include <stdexcept>
#include <string>
#include <utility>

#include "callkit/binding.h"

namespace su55if::callkit {

su55if_procedure *LinkedLibrary::resolve(std::string_view name) const {
    static constexpr std::array<std::pair<std::string_view, su55if_procedure *>, 9> kExports{{
        {"SU55IF_DEFST", SU55IF_DEFST},
        {"SU55IF_CHKST", SU55IF_CHKST},
        {"SU55IF_UPSTGTIM", SU55IF_UPSTGTIM},
        {"SU55IF_INTTIM", SU55IF_INTTIM},
        {"SU55IF_IINTTIM", SU55IF_IINTTIM},
        {"SU55IF_ACTYP", SU55IF_ACTYP},
        {"SU55IF_IACTYP", SU55IF_IACTYP},
        {"SU55IF_REPTIM", SU55IF_REPTIM},
        {"SU55IF_PFNRSWTCH", SU55IF_PFNRSWTCH},
    }};
    for (const auto &[exportName, procedure] : kExports) {
        if (exportName == name) {
            return procedure;
        }
    }
    throw std::runtime_error("the linked library has no procedure " + std::string(name));
}

}  // namespace su55if::callkit
