#include "run_sinks.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "check_report.h"
#include "host_error.h"
#include "record_capture.h"

namespace su55if::host {

void finishStandardOutput() {
    const int earlier = std::ferror(dataOutput()) == 0 ? 0 : errno != 0 ? errno : EIO;  // left by the failed write
    errno = 0;
    if (std::fflush(dataOutput()) != 0 || earlier != 0) {
        std::clearerr(dataOutput());
        const int error = errno != 0 ? errno : earlier != 0 ? earlier : EIO;
        throw HostError(fmt::format("cannot write to standard output: {}", std::strerror(error)));
    }
}

std::string describeFailure(const std::exception &error) {
    const auto *failure = dynamic_cast<const std::system_error *>(&error);
    return failure != nullptr && std::ferror(dataOutput()) != 0
               ? fmt::format("cannot write to standard output: {}", std::strerror(failure->code().value()))
               : error.what();
}

void checkStandardOutput() {
    if (std::ferror(dataOutput()) != 0) {
        if (errno == EPIPE) {
            throw ClosedPipe{};
        }
        finishStandardOutput();  // throws, naming the error
    }
}

void Sinks::write(const TimelineRow &row) {
    for (SampleSink *sink : sinks_) {
        sink->write(row);
    }
    // Checked every few thousand samples, so that a run stops soon after its
    // output is lost: stdio keeps the error once a write failed.
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

void Sinks::scheduleChanged(double time, const std::vector<double> &durations, double cycleDuration) {
    for (SampleSink *sink : sinks_) {
        sink->scheduleChanged(time, durations, cycleDuration);
    }
}

void Sinks::linkDrifted(const LinkDrift &drift) {
    for (SampleSink *sink : sinks_) {
        sink->linkDrifted(drift);
    }
}

void DriftWarnings::linkDrifted(const LinkDrift &drift) {
    if (++partings_[{drift.stage, drift.partner}] <= kShownPerPair) {
        std::fflush(dataOutput());
        fmt::print(stderr, "su55if-host: warning: {}\n", explainDrift(cycle_, drift));
    }
}

void DriftWarnings::finish() {
    for (const auto &[pair, count] : partings_) {
        if (count > kShownPerPair) {
            fmt::print(stderr, "su55if-host: warning: {}\n",
                       driftsNotShown(cycle_, pair.first, pair.second, count - kShownPerPair, kShownPerPair));
        }
    }
}

void Sinks::finish() {
    if (shown_) {
        fmt::print(stderr, "\r\x1b[K");
    }
    checkStandardOutput();
}

void Sinks::showProgress(double time) {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastShown_ < std::chrono::milliseconds(500)) {
        return;
    }
    lastShown_ = now;
    shown_ = true;
    fmt::print(stderr, "\rsu55if-host: time {:.6g} of {:.6g} ({:.0f}%)", time, stopTime_, 100.0 * time / stopTime_);
}

}  // namespace su55if::host
