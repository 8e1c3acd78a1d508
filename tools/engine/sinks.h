// Where a run's samples go: every writer of the run at once, and the
// warnings of linked stages that came to last differently.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <utility>
#include <vector>

#include "engine/cycle.h"
#include "engine/simulation.h"

namespace su55if::engine {

// Linked stages that came to last differently, as warnings on `messages`
// when they happen (also with --quiet: they are about the cycle), after
// what `data` holds so far: the first kShownPerPair times each pair parts,
// then, from finish(), how many more times it did. Inputs that part a pair
// at every sample would otherwise write without bound.
class DriftWarnings : public SampleSink {
public:
    static constexpr std::uint64_t kShownPerPair = 3;

    DriftWarnings(const Cycle &cycle, std::FILE *messages, std::FILE *data)
        : cycle_(cycle), messages_(messages), data_(data) {}
    void write(const TimelineRow & /*row*/) override {}
    void linkDrifted(const LinkDrift &drift) override;
    // One line per pair that parted more often than was shown.
    void finish();

private:
    const Cycle &cycle_;
    std::FILE *messages_;
    std::FILE *data_;
    std::map<std::pair<int, int>, std::uint64_t> partings_;  // per pair (stage, partner)
};

class Sinks : public SampleSink {
public:
    void add(SampleSink &sink) { sinks_.push_back(&sink); }

    void started(const RunSettings &settings) override;
    void write(const TimelineRow &row) override;
    void scheduleChanged(double time, const std::vector<double> &durations, double cycleDuration) override;
    void endMoved(double end) override;
    void linkDrifted(const LinkDrift &drift) override;
    void ended() override;

private:
    std::vector<SampleSink *> sinks_;
};

}  // namespace su55if::engine
