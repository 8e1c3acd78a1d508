// How far a run is, told to a script's function now and then: every few
// thousand samples, and then only when a tenth of a second has passed.
#pragma once

#include <emscripten/val.h>

#include <cstdint>
#include <utility>

#include "engine/simulation.h"

namespace su55if::designer {

class Progress : public engine::SampleSink {
public:
    // `report` is called with (time, stopTime); undefined or null for none.
    explicit Progress(emscripten::val report) : report_(std::move(report)) {}

    void started(const engine::RunSettings &settings) override;
    void write(const engine::TimelineRow &row) override;
    void endMoved(double end) override { stopTime_ = end; }

private:
    emscripten::val report_;
    double stopTime_ = 0.0;
    double lastReported_ = 0.0;  // milliseconds
    std::uint32_t samples_ = 0;
};

}  // namespace su55if::designer
