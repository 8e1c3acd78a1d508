// The library linked into the module, as a command of su55if-host finds it:
// freshly loaded. The library keeps one stage schedule for as long as it is
// loaded (docs/procedures.md, "One stage schedule per process"), and the
// host loads it anew for every command; the module keeps it loaded, so each
// command puts the schedule back as it is at load, before its first call.
#pragma once

#include "callkit/binding.h"

namespace su55if::designer {

class FreshLibrary final : public callkit::LinkedLibrary {
public:
    FreshLibrary();
};

}  // namespace su55if::designer
