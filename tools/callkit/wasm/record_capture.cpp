// Under Emscripten the C library's `stdout` is a constant and cannot be
// replaced. Its writes go to descriptor 1, though, and the file system in
// memory lets a descriptor be pointed elsewhere: the capture points
// descriptor 1 at a file in memory, opened for appending, and puts it back
// when it ends. What the library wrote is read from that file.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "callkit/record_capture.h"

namespace su55if::callkit {

std::FILE *dataOutput() { return stdout; }

namespace {

[[noreturn]] void fail(const char *what) {
    throw std::runtime_error(std::string("cannot capture the library's records: ") + what + ": " +
                             std::strerror(errno));
}

}  // namespace

struct RecordCapture::State {
    char name[32] = {};
    int file = -1;       // the records, as written
    int saved = -1;      // descriptor 1 before the capture
    std::string text;    // what was read from `file` so far
    std::size_t taken = 0;  // bytes of text that take() returned

    // Appends to `text` what the file has beyond it.
    void readNew() {
        char buffer[4096];
        for (;;) {
            const ssize_t n = pread(file, buffer, sizeof buffer, static_cast<off_t>(text.size()));
            if (n < 0) {
                fail("reading them back");
            }
            if (n == 0) {
                return;
            }
            text.append(buffer, static_cast<std::size_t>(n));
        }
    }
};

RecordCapture::RecordCapture() : state_(new State) {
    // Appending, so that writes through descriptor 1 land after those read.
    // Removed when done: a file removed while open loses what a copy of its
    // descriptor writes.
    std::strcpy(state_->name, "/tmp/su55if-records-XXXXXX");
    state_->file = mkostemp(state_->name, O_APPEND);
    if (state_->file < 0) {
        delete state_;
        fail("opening a file for them");
    }
    // For as long as the capture lasts, not call by call: every call into
    // the file system is a call out of WebAssembly, and a run makes
    // millions of library calls. Nothing but the library writes to
    // standard output in a program that has this capture.
    std::fflush(stdout);
    state_->saved = dup(1);
    if (state_->saved < 0 || dup2(state_->file, 1) < 0) {
        close(state_->file);
        unlink(state_->name);
        delete state_;
        fail("redirecting standard output");
    }
}

RecordCapture::~RecordCapture() {
    std::fflush(stdout);
    dup2(state_->saved, 1);
    close(state_->saved);
    close(state_->file);
    unlink(state_->name);
    delete state_;
}

void RecordCapture::begin() {}

void RecordCapture::end() {}

std::vector<std::string> RecordCapture::records() const {
    state_->readNew();
    return splitRecords(state_->text);
}

std::string RecordCapture::take() {
    state_->readNew();
    const std::size_t from = std::min(state_->taken, state_->text.size());
    state_->taken = state_->text.size();
    return state_->text.substr(from);
}

}  // namespace su55if::callkit
