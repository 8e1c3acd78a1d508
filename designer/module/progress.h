// How far a run is, told to a script's function now and then: after the
// first few thousand samples, then every few thousand samples once a tenth
// of a second has passed, so that any run of that many samples tells it
// at least once, however fast the machine.
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
    bool reported_ = false;
    std::uint32_t samples_ = 0;
};

}  // namespace su55if::designer
