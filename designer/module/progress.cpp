#include "module/progress.h"

#include <emscripten/emscripten.h>

namespace su55if::designer {

void Progress::started(const engine::RunSettings &settings) {
    stopTime_ = settings.stopTime;
    reported_ = false;
}

void Progress::write(const engine::TimelineRow &row) {
    if (++samples_ % 4096 != 0 || report_.isUndefined() || report_.isNull()) {
        return;
    }
    const double now = emscripten_get_now();
    if (!reported_ || now - lastReported_ >= 100.0) {
        reported_ = true;
        lastReported_ = now;
        report_(row.time, stopTime_);
    }
}

}  // namespace su55if::designer
