#include "host/run_watch.h"

#include <fmt/format.h>

#include <cstdio>

#include "host/standard_output.h"

namespace su55if::host {

void RunWatch::write(const engine::TimelineRow &row) {
    // Checked every few thousand samples: stdio keeps the error once a write
    // failed.
    if ((++samples_ & 0xFFF) == 0) {
        checkStandardOutput();
        for (OutputFile *file : files_) {
            file->checkWrites();
        }
        if (progress_ && (samples_ & 0xFFFF) == 0) {
            showProgress(row.time);
        }
    }
}

void RunWatch::ended() {
    if (shown_) {
        fmt::print(stderr, "\r\x1b[K");
    }
    checkStandardOutput();
}

void RunWatch::showProgress(double time) {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastShown_ < std::chrono::milliseconds(500)) {
        return;
    }
    lastShown_ = now;
    shown_ = true;
    fmt::print(stderr, "\rsu55if-host: time {:.6g} of {:.6g} ({:.0f}%)", time, stopTime_, 100.0 * time / stopTime_);
}

}  // namespace su55if::host
