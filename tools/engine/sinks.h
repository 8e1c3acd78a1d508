// Where a run's samples go: every writer of the run at once, and the
// warnings of linked stages that came to last differently.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "engine/cycle.h"
#include "engine/simulation.h"

namespace su55if::engine {

// Linked stages that came to last differently, as warnings on `messages`
// when they happen (also with --quiet: they are about the cycle), after
// what `data` holds so far.
class DriftWarnings : public SampleSink {
public:
    DriftWarnings(const Cycle &cycle, std::FILE *messages, std::FILE *data)
        : cycle_(cycle), messages_(messages), data_(data) {}
    void write(const TimelineRow & /*row*/) override {}
    void linkDrifted(const LinkDrift &drift) override;

private:
    const Cycle &cycle_;
    std::FILE *messages_;
    std::FILE *data_;
};

class Sinks : public SampleSink {
public:
    void add(SampleSink &sink) { sinks_.push_back(&sink); }

    void started(const RunSettings &settings) override;
    void write(const TimelineRow &row) override;
    void scheduleChanged(double time, const std::vector<double> &durations, double cycleDuration) override;
    void linkDrifted(const LinkDrift &drift) override;
    void ended() override;

private:
    std::vector<SampleSink *> sinks_;
};

}  // namespace su55if::engine
