#include "frame/frame.h"

#include <cstdarg>
#include <cstdio>

namespace su55if {

void writeRecord(const char *format, ...) {
    std::va_list items;
    va_start(items, format);
    std::vprintf(format, items);
    va_end(items);
    std::putchar('\n');
}

void terminateSimulation(int *status) {
    std::puts("Simulation Terminated");
    std::fflush(stdout);
    *status = SU55IF_STATUS_FATAL;
}

}  // namespace su55if
