// anyDiffers: the library's one hand-vectorised loop, and its plain twin.
//
// Comparing whole duration vectors is most of the work of SU55IF_DEFST's
// change detection and SU55IF_CHKST's unchanged case. GCC does not vectorise
// comparisons of reals for baseline x86-64 by itself; the loop below, two
// reals at a time in GCC's vector extension, takes these calls from about
// 85 ns to 22 ns (SU55IF_CHKST) and from about 194 ns to 82 ns (SU55IF_DEFST)
// with 100 stages (bench/README.md).
//
// The plain loop gives the same answers. The CMake option SU55IF_PLAIN_LOOPS
// builds it instead (the sanitizer build does), so that CI tests both.
#pragma once

#include <cstdint>
#include <cstring>

namespace su55if {

#if SU55IF_PLAIN_LOOPS

// True when a[k] != b[k] for some k below count: a NaN on either side
// differs, +0.0 and -0.0 do not. Compares every element.
inline bool anyDiffers(const double *a, const double *b, std::int32_t count) {
    bool any = false;
    for (std::int32_t k = 0; k < count; ++k) {
        any |= a[k] != b[k];
    }
    return any;
}

#else

// The same answer as the plain loop. A comparison of two pairs gives -1 in
// each lane that differs; the lanes count the differences.
inline bool anyDiffers(const double *a, const double *b, std::int32_t count) {
    using RealPair = double __attribute__((vector_size(16)));
    using PairCount = std::int64_t __attribute__((vector_size(16)));
    const auto pairAt = [](const double *first) {
        RealPair pair;
        std::memcpy(&pair, first, sizeof pair);
        return pair;
    };
    PairCount differences{};
    std::int32_t k = 0;
    for (; k + 4 <= count; k += 4) {
        differences -= pairAt(a + k) != pairAt(b + k);
        differences -= pairAt(a + k + 2) != pairAt(b + k + 2);
    }
    bool any = (differences[0] | differences[1]) != 0;
    for (; k < count; ++k) {
        any |= a[k] != b[k];
    }
    return any;
}

#endif

}  // namespace su55if
