// What the host watches while a run writes: standard output and the output
// files, checked as the run goes so that a run stops soon after its output
// is lost, and progress shown on a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "engine/simulation.h"
#include "host/output_file.h"

namespace su55if::host {

class RunWatch : public engine::SampleSink {
public:
    // progress: show how far the run is on standard error, at the first
    // sample, then at most twice a second.
    explicit RunWatch(bool progress) : progress_(progress) {}

    void watch(OutputFile &file) { files_.push_back(&file); }

    void started(const engine::RunSettings &settings) override {
        stopTime_ = settings.stopTime;
        cycles_ = settings.cycles;
    }
    void write(const engine::TimelineRow &row) override;
    // The run's end as the durations in force place it, from now on.
    void endMoved(double end) override { stopTime_ = end; }
    // Clears the progress line for the warning that follows.
    void linkDrifted(const engine::LinkDrift & /*drift*/) override { clearProgress(); }
    // Clears the progress line and checks standard output.
    void ended() override;

    std::uint64_t samples() const { return samples_; }

private:
    double stopTime_ = 0.0;
    std::uint64_t cycles_ = 0;
    bool progress_;
    bool shown_ = false;
    std::vector<OutputFile *> files_;
    std::uint64_t samples_ = 0;
    std::chrono::steady_clock::time_point lastShown_{};  // long ago: the first shows at once

    void showProgress(double time);
    void clearProgress();
};

}  // namespace su55if::host
