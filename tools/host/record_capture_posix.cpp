#include <fmt/format.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host_error.h"
#include "record_capture.h"

namespace su55if::host {

std::FILE *dataOutput() { return stdout; }

struct RecordCapture::State {
    std::FILE *stream = nullptr;
    char *text = nullptr;
    std::size_t size = 0;
    std::FILE *data = nullptr;  // stdout while a call runs
};

RecordCapture::RecordCapture() : state_(new State) {
    state_->stream = open_memstream(&state_->text, &state_->size);
    if (state_->stream == nullptr) {
        const int error = errno;
        delete state_;
        throw HostError(fmt::format("cannot set up a buffer for the library's records: {}", std::strerror(error)));
    }
}

RecordCapture::~RecordCapture() {
    std::fclose(state_->stream);
    std::free(state_->text);
    delete state_;
}

void RecordCapture::begin() {
    state_->data = stdout;
    stdout = state_->stream;
}

void RecordCapture::end() { stdout = state_->data; }

std::vector<std::string> RecordCapture::records() const {
    std::fflush(state_->stream);
    return splitRecords(std::string_view(state_->text != nullptr ? state_->text : "", state_->size));
}

void prepareStandardOutput() {
    // A reader that closes standard output early (`| head`) ends the run
    // quietly: the write fails with EPIPE instead of killing the process.
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace su55if::host
