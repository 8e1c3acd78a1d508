#include "engine/stage_clock.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "engine/error.h"

namespace su55if::engine {

namespace {

// Error-free transformations: a + b and k * c as a rounded value and the
// rounding error, so that sums of durations and whole cycles stay exact to
// about 106 bits.
ExactTime twoSum(double a, double b) {
    const double sum = a + b;
    const double bPart = sum - a;
    return {sum, (a - (sum - bPart)) + (b - bPart)};
}

ExactTime normalized(double hi, double lo) {
    const double sum = hi + lo;
    return {sum, lo - (sum - hi)};
}

ExactTime add(ExactTime x, ExactTime y) {
    const ExactTime sum = twoSum(x.hi, y.hi);
    return normalized(sum.hi, sum.lo + x.lo + y.lo);
}

ExactTime times(double k, ExactTime c) {
    const double product = k * c.hi;
    return normalized(product, std::fma(k, c.hi, -product) + k * c.lo);
}

// x <= t, with x's low part taken into account.
bool notAfter(ExactTime x, double t) { return compare(x, t) <= 0; }

}  // namespace

int compare(ExactTime x, double t) {
    const ExactTime difference = twoSum(x.hi, -t);
    const double sign = difference.hi + (difference.lo + x.lo);
    return sign < 0.0 ? -1 : sign > 0.0 ? 1 : 0;
}

double StageClock::cyclesBegun() const {
    return begun_ + cycle_ + (firstPosition_ != 0 && position_ >= firstPosition_ ? 1.0 : 0.0);
}

std::optional<ExactTime> StageClock::cycleEnd(double n) const {
    // Cycle n + 1 begins with the m-th start of stage 1 after the anchor's
    // (the 0th: the anchor itself, when it is stage 1).
    const double m = n + 1.0 - begun_;
    if (firstPosition_ == 0) {
        return m >= 0.0 ? std::optional(startOf(m, 0)) : std::nullopt;
    }
    return m >= 1.0 ? std::optional(startOf(m - 1.0, firstPosition_)) : std::nullopt;
}

void StageClock::reset(const std::vector<double> &durations, int anchorStage, ExactTime anchorTime,
                       double cyclesBegun) {
    const int count = static_cast<int>(durations.size());
    firstPosition_ = count > 0 ? static_cast<std::size_t>((count - anchorStage + 1) % count) : 0;
    begun_ = cyclesBegun;
    order_.clear();
    sums_.assign(1, ExactTime{});
    for (int j = 0; j < count; ++j) {
        const int stage = (anchorStage - 1 + j) % count + 1;
        order_.push_back(stage);
        sums_.push_back(add(sums_.back(), {durations[static_cast<std::size_t>(stage - 1)], 0.0}));
    }
    double cycle = 0.0;  // as the library adds them, to tell an overflow from a NaN
    for (double duration : durations) {
        cycle += duration;
    }
    if (std::isinf(cycle)) {
        throw Error("the stage durations add up to more than the largest number: the cycle duration "
                        "overflows to infinity");
    }
    if (!(cycle > 0.0) || !(sums_.back().hi > 0.0)) {
        throw Error(fmt::format("the stage durations add up to {}: a cycle must last longer than 0", cycle));
    }
    anchor_ = anchorTime;
    cycle_ = 0.0;
    position_ = 0;
    settle();
}

void StageClock::settle() {
    start_ = startOf(cycle_, position_);
    next_ = position_ + 1 < order_.size() ? startOf(cycle_, position_ + 1) : startOf(cycle_ + 1.0, 0);
}

ExactTime StageClock::startOf(double cycle, std::size_t position) const {
    return add(add(anchor_, times(cycle, sums_.back())), sums_[position]);
}

void StageClock::advanceTo(double time) {
    if (!notAfter(next_, time)) {
        return;  // still in the same stage
    }
    if (notAfter(startOf(cycle_ + 1.0, 0), time)) {
        // Whole cycles first: one step may pass many. The division gives the
        // cycle index up to rounding; the exact starts settle it.
        double cycle = std::max(cycle_ + 1.0, std::floor((time - anchor_.hi) / sums_.back().hi));
        if (!(cycle < kMaxCycles)) {
            throw Error(fmt::format("cannot place time {}: it lies more than {} cycles after the start, "
                                        "where stage starts can no longer be told apart",
                                        time, kMaxCycles));
        }
        while (cycle > cycle_ + 1.0 && !notAfter(startOf(cycle, 0), time)) {
            cycle -= 1.0;
        }
        while (notAfter(startOf(cycle + 1.0, 0), time)) {
            cycle += 1.0;
        }
        cycle_ = cycle;
        position_ = 0;
    }
    while (position_ + 1 < order_.size() && notAfter(startOf(cycle_, position_ + 1), time)) {
        ++position_;
    }
    settle();
}

}  // namespace su55if::engine
