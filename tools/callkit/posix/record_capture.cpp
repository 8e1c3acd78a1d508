#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "callkit/record_capture.h"

namespace su55if::callkit {

std::FILE *dataOutput() { return stdout; }

struct RecordCapture::State {
    std::FILE *stream = nullptr;
    char *text = nullptr;
    std::size_t size = 0;
    std::FILE *data = nullptr;  // stdout while a call runs
    std::size_t taken = 0;      // bytes of text that take() returned
};

RecordCapture::RecordCapture() : state_(new State) {
    state_->stream = open_memstream(&state_->text, &state_->size);
    if (state_->stream == nullptr) {
        const int error = errno;
        delete state_;
        throw std::runtime_error(std::string("cannot set up a buffer for the library's records: ") +
                                 std::strerror(error));
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

std::string RecordCapture::take() {
    std::fflush(state_->stream);
    const std::size_t from = std::min(state_->taken, state_->size);
    state_->taken = state_->size;
    return std::string(state_->text != nullptr ? state_->text + from : "", state_->size - from);
}

}  // namespace su55if::callkit
