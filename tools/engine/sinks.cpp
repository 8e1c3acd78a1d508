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
        std::fflush(streams_.data);
        report(streams_, driftDiagnostic(cycle_, drift));
    }
}

void DriftWarnings::finish() {
    for (const auto &[pair, count] : partings_) {
        if (count > kShownPerPair) {
            Diagnostic d = diagnostic(DiagnosticKind::driftsNotShown,
                                      driftsNotShown(cycle_, pair.first, pair.second, count - kShownPerPair,
                                                     kShownPerPair));
            d.rule = d.message;
            d.severity = Severity::warning;
            d.stage = pair.first;
            d.partner = pair.second;
            report(streams_, d);
        }
    }
}

}  // namespace su55if::engine
