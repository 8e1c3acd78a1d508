// Where each stage of a cycle begins, many cycles on: pure arithmetic on the
// durations in force, kept to about twice double precision so that a stage
// start far into a run is placed where it belongs.
#pragma once

#include <cstddef>
#include <optional>
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

// The sign of x - t: below 0 when x is before t, 0 when it is t.
int compare(ExactTime x, double t);

// Stage j of the k-th cycle after an anchor (a stage and the time it began)
// begins at anchor + k * cycle + (the durations of the stages before it in
// the cycle), each start computed afresh from k and the running sums within
// one cycle, never by adding durations sample after sample; stages of
// duration 0 are never in force.
class StageClock {
public:
    // cyclesBegun: the cycles begun by the anchor's start, the anchor's own
    // included when it is stage 1 (a run begins with stage 1 of cycle 1).
    // Throws Error when the durations add up to 0, to infinity or to NaN.
    void reset(const std::vector<double> &durations, int anchorStage, ExactTime anchorTime, double cyclesBegun = 1.0);
    // Moves to the stage in force at `time`, which never decreases. Throws
    // Error when `time` lies more than kMaxCycles cycles on.
    void advanceTo(double time);
    int stage() const { return order_[position_]; }
    ExactTime start() const { return start_; }
    // The cycles begun by the start of the stage in force, counted from the
    // run's start across resets: a cycle begins where its stage 1 begins.
    double cyclesBegun() const;
    // Where cycle n ends (cycle n + 1 begins) as the durations place it;
    // none when it ended before the anchor.
    std::optional<ExactTime> cycleEnd(double n) const;

private:
    std::vector<int> order_;       // stage numbers from the anchor stage on
    std::vector<ExactTime> sums_;  // sums_[j]: durations of order_[0 .. j-1]; sums_.back(): the cycle
    ExactTime anchor_;
    double begun_ = 1.0;            // cycles begun by the anchor's start
    std::size_t firstPosition_ = 0;  // where stage 1 is in order_
    double cycle_ = 0.0;           // the cycle index k
    std::size_t position_ = 0;     // j
    ExactTime start_;              // where stage j of cycle k begins
    ExactTime next_;               // where the stage after it begins

    ExactTime startOf(double cycle, std::size_t position) const;
    void settle();
};

}  // namespace su55if::engine
