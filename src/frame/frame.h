// The call frame shared by every procedure: argument location, call modes,
// derivative zeroing, the integer reading of reals and fatal diagnostics.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "su55if.h"

namespace su55if {

// What a NaN or out-of-range real reads as where an integer is wanted.
inline constexpr std::int32_t kInvalidInteger = INT32_MIN;

// x truncated toward zero; kInvalidInteger for NaN and for values whose
// truncation does not fit a signed 32-bit integer.
inline std::int32_t truncateToInt(double x) {
    // |x| < 2^31 holds every real whose truncation fits, except those in
    // (-2^31 - 1, -2^31], which truncate to -2^31 = kInvalidInteger anyway.
    // NaN fails the comparison.
    if (std::fabs(x) < 2147483648.0) {
        return static_cast<std::int32_t>(x);
    }
    return kInvalidInteger;
}

// Halves away from zero: x + 0.5 for x >= 0, x - 0.5 otherwise (NaN
// included), then truncated as above. 0.49999999999999994 gives 1 because
// the addition itself rounds.
inline std::int32_t roundToInt(double x) { return truncateToInt(x >= 0.0 ? x + 0.5 : x - 0.5); }

// roundToInt of |x|, the sign bit cleared first. |x| is never below zero, so
// the half is always added (a NaN stays NaN either way).
inline std::int32_t roundMagnitudeToInt(double x) { return truncateToInt(std::fabs(x) + 0.5); }

// Call modes: 0 asks for outputs, 3 for zeroed derivatives, 4 for both.
inline bool wantsOutputs(std::int32_t mode) { return mode == SU55IF_MODE_OUTPUTS || mode == SU55IF_MODE_BOTH; }
inline bool wantsDerivatives(std::int32_t mode) {
    return mode == SU55IF_MODE_DERIVATIVES || mode == SU55IF_MODE_BOTH;
}

// The common tail of every call: zeroes the derivative block when the call
// mode asks for it and both extents are positive. The extents are read only
// when the block is to be zeroed. A block whose byte count does not fit the
// address space cannot exist, so such extents leave it untouched.
struct CallTail {
    std::int32_t mode;
    double *derivatives;
    const int *count1;
    const int *count2;
};
inline void finishCall(const CallTail &tail) {
    if (!wantsDerivatives(tail.mode) || *tail.count1 <= 0 || *tail.count2 <= 0) {
        return;
    }
    const std::uint64_t count = static_cast<std::uint64_t>(*tail.count1) * static_cast<std::uint64_t>(*tail.count2);
    if (count > SIZE_MAX / sizeof(double)) {
        return;
    }
    // All-zero bits are +0.0; one bulk fill of the whole block.
    std::memset(tail.derivatives, 0, static_cast<std::size_t>(count) * sizeof(double));
}

// Argument k (1-based) of the host's vectors, located by its 1-based offset.
// Offsets are the host's obligation and are used as they stand.
inline const double *argumentAt(const double *values, const int *offsets, int k) {
    return values + (static_cast<std::int64_t>(offsets[k - 1]) - 1);
}
inline double *argumentAt(double *values, const int *offsets, int k) {
    return values + (static_cast<std::int64_t>(offsets[k - 1]) - 1);
}

// The records (lines) of one fatal diagnostic. A procedure that holds the
// stage table gathers them here and prints them once it has released the
// table: printing may block (standard output a full pipe) and is where a
// cancelled thread stops, and neither may happen while the table is held.
class Diagnostic {
public:
    // status: the caller's status argument, which terminate() sets.
    explicit Diagnostic(int *status) : status_(status) {}
    Diagnostic(const Diagnostic &) = delete;
    Diagnostic &operator=(const Diagnostic &) = delete;

    // Adds one record, printf-style with integer items as %d.
    void record(const char *format, ...) __attribute__((format(printf, 2, 3)));

    // Ends the diagnostic with the record "Simulation Terminated" and sets
    // status 4. The caller returns at once afterwards.
    void terminate();

    // Writes the records, if there are any, to standard output in one piece
    // (so that no other thread's output comes between them) and flushes it.
    void print() const;

private:
    // Appends up to `count` characters, as many as there is room for.
    void append(const char *characters, std::size_t count);

    // The longest diagnostic, three records, is under 100 characters.
    char text_[256];
    std::size_t length_ = 0;
    int *status_;
};

}  // namespace su55if
