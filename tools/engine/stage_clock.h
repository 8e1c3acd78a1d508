// Where each stage of a cycle begins, many cycles on: pure arithmetic on the
// durations in force, kept to about twice double precision so that a stage
// start far into a run is placed where it belongs.
#pragma once

#include <cstddef>
#include <vector>

namespace su55if::engine {

// The most cycles a run may pass: cycle indices up to here are whole
// numbers that a double holds exactly, with room to count one on.
inline constexpr double kMaxCycles = 4503599627370496.0;  // 2^52

// A sum of doubles and products as a rounded value and its rounding error.
struct ExactTime {
    double hi = 0.0;
    double lo = 0.0;
};

// Stage j of the k-th cycle after an anchor (a stage and the time it began)
// begins at anchor + k * cycle + (the durations of the stages before it in
// the cycle), each start computed afresh from k and the running sums within
// one cycle, never by adding durations sample after sample; stages of
// duration 0 are never in force.
class StageClock {
public:
    // Throws Error when the durations add up to 0, to infinity or to NaN.
    void reset(const std::vector<double> &durations, int anchorStage, ExactTime anchorTime);
    // Moves to the stage in force at `time`, which never decreases. Throws
    // Error when `time` lies more than kMaxCycles cycles on.
    void advanceTo(double time);
    int stage() const { return order_[position_]; }
    ExactTime start() const { return start_; }

private:
    std::vector<int> order_;       // stage numbers from the anchor stage on
    std::vector<ExactTime> sums_;  // sums_[j]: durations of order_[0 .. j-1]; sums_.back(): the cycle
    ExactTime anchor_;
    double cycle_ = 0.0;           // the cycle index k
    std::size_t position_ = 0;     // j
    ExactTime start_;              // where stage j of cycle k begins
    ExactTime next_;               // where the stage after it begins

    ExactTime startOf(double cycle, std::size_t position) const;
    void settle();
};

}  // namespace su55if::engine
