#include "host/run_watch.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>

#include "host/standard_output.h"

namespace su55if::host {

void RunWatch::write(const engine::TimelineRow &row) {
    // The progress line from the first sample on, so that it shows at once.
    if (++samples_ == 1 && progress_) {
        showProgress(row.time);
    }
    // Checked every few thousand samples: stdio keeps the error once a write
    // failed.
    if ((samples_ & 0xFFF) == 0) {
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
    clearProgress();
    checkStandardOutput();
}

void RunWatch::clearProgress() {
    if (shown_) {
        fmt::print(stderr, "\r\x1b[K");
        shown_ = false;
    }
}

void RunWatch::showProgress(double time) {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastShown_ < std::chrono::milliseconds(500)) {
        return;
    }
    lastShown_ = now;
    shown_ = true;
    // A run by cycles knows its end only as the durations in force place it.
    const double percent = std::min(100.0 * time / stopTime_, cycles_ != 0 ? 99.0 : 100.0);
    fmt::print(stderr, "\rsu55if-host: time {:.6g} of {}{:.6g} ({:.0f}%)", time, cycles_ != 0 ? "about " : "",
               stopTime_, percent);
}

}  // namespace su55if::host
