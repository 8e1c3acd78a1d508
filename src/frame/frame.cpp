#include "frame/frame.h"

#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace su55if {

std::int32_t truncateToInt(double x) {
    // The open interval (-2^31 - 1, 2^31) holds exactly the reals whose
    // truncation fits; NaN fails both comparisons.
    if (x > -2147483649.0 && x < 2147483648.0) {
        return static_cast<std::int32_t>(x);
    }
    return kInvalidInteger;
}

std::int32_t roundToInt(double x) {
    const double shifted = (x >= 0.0) ? x + 0.5 : x + -0.5;
    return truncateToInt(shifted);
}

std::int32_t roundMagnitudeToInt(double x) { return roundToInt(std::fabs(x)); }

void finishCall(const CallTail &tail) {
    if (!wantsDerivatives(tail.mode) || *tail.count1 <= 0 || *tail.count2 <= 0) {
        return;
    }
    const std::int64_t count = static_cast<std::int64_t>(*tail.count1) * *tail.count2;
    // All-zero bits are +0.0; one bulk fill of the whole block.
    std::memset(tail.derivatives, 0, static_cast<std::size_t>(count) * sizeof(double));
}

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
    *status = 4;
}

}  // namespace su55if
