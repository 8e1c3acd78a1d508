#include "platform/platform.h"

#include <pthread.h>
#include <sched.h>

namespace su55if::platform {

void yieldProcessor() { sched_yield(); }

// pthread_atfork ties the handlers to this library file: unloading it
// removes them. Should it fail for want of memory, a fork is unguarded as
// before; nothing else fails.
void aroundFork(void (*prepare)(), void (*release)()) { pthread_atfork(prepare, release, release); }

}  // namespace su55if::platform
