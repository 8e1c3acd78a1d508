#include "platform/platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace su55if::platform {

void yieldProcessor() { SwitchToThread(); }

// Windows starts processes afresh: none inherits the table.
void aroundFork(void (*)(), void (*)()) {}

}  // namespace su55if::platform
