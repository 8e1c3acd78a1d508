#include "engine/sinks.h"

#include "engine/reports.h"
#include "engine/text.h"

namespace su55if::engine {

void Sinks::started(const RunSettings &settings) {
    for (SampleSink *sink : sinks_) {
        sink->started(settings);
    }
}

void Sinks::write(const TimelineRow &row) {
    for (SampleSink *sink : sinks_) {
        sink->write(row);
    }
}

void Sinks::scheduleChanged(double time, const std::vector<double> &durations, double cycleDuration) {
    for (SampleSink *sink : sinks_) {
        sink->scheduleChanged(time, durations, cycleDuration);
    }
}

void Sinks::endMoved(double end) {
    for (SampleSink *sink : sinks_) {
        sink->endMoved(end);
    }
}

void Sinks::linkDrifted(const LinkDrift &drift) {
    for (SampleSink *sink : sinks_) {
        sink->linkDrifted(drift);
    }
}

void Sinks::ended() {
    for (SampleSink *sink : sinks_) {
        sink->ended();
    }
}

void DriftWarnings::linkDrifted(const LinkDrift &drift) {
    if (++partings_[{drift.stage, drift.partner}] <= kShownPerPair) {
        std::fflush(data_);
        printMessage(messages_, "warning: " + explainDrift(cycle_, drift));
    }
}

void DriftWarnings::finish() {
    for (const auto &[pair, count] : partings_) {
        if (count > kShownPerPair) {
            printMessage(messages_, "warning: " + driftsNotShown(cycle_, pair.first, pair.second,
                                                                  count - kShownPerPair, kShownPerPair));
        }
    }
}

}  // namespace su55if::engine
