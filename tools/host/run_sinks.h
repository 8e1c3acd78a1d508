// Where a run's samples go: every writer of the run at once, with standard
// output and the output files checked as the run goes and progress shown on
// a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "cycle_file.h"
#include "output_file.h"
#include "simulation.h"

namespace su55if::host {

// Standard output was closed by its reader (`| head`): the run ends quietly.
struct ClosedPipe {};

// Throws ClosedPipe when a write to standard output failed because its
// reader closed it, HostError for any other failed write.
void checkStandardOutput();

// Linked stages that came to last differently, as warnings on standard
// error when they happen (also with --quiet: they are about the cycle): the
// first kShownPerPair times each pair parts, then, from finish(), how many
// more times it did. Inputs that part a pair at every sample would otherwise
// write without bound.
class DriftWarnings : public SampleSink {
public:
    static constexpr std::uint64_t kShownPerPair = 3;

    explicit DriftWarnings(const Cycle &cycle) : cycle_(cycle) {}
    void write(const TimelineRow & /*row*/) override {}
    void linkDrifted(const LinkDrift &drift) override;
    // One line per pair that parted more often than was shown.
    void finish();

private:
    const Cycle &cycle_;
    std::map<std::pair<int, int>, std::uint64_t> partings_;  // per pair (stage, partner)
};

class Sinks : public SampleSink {
public:
    // progress: show how far the run is on standard error, at most twice a
    // second.
    Sinks(double stopTime, bool progress) : stopTime_(stopTime), progress_(progress) {}

    void add(SampleSink &sink) { sinks_.push_back(&sink); }
    void watch(OutputFile &file) { files_.push_back(&file); }

    void write(const TimelineRow &row) override;
    void scheduleChanged(double time, const std::vector<double> &durations, double cycleDuration) override;
    void linkDrifted(const LinkDrift &drift) override;
    // Clears the progress line and checks standard output.
    void finish();

    std::uint64_t samples() const { return samples_; }

private:
    double stopTime_;
    bool progress_;
    bool shown_ = false;
    std::vector<SampleSink *> sinks_;
    std::vector<OutputFile *> files_;
    std::uint64_t samples_ = 0;
    std::chrono::steady_clock::time_point lastShown_ = std::chrono::steady_clock::now();

    void showProgress(double time);
};

}  // namespace su55if::host
