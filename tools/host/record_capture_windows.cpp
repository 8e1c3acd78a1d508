#include <fcntl.h>
#include <fmt/format.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "host_error.h"
#include "record_capture.h"

namespace su55if::host {

namespace {

// A stream on a copy of descriptor 1 as it was at the first call; stdout
// itself when there is no descriptor 1 to copy.
std::FILE *openDataOutput() {
    std::fflush(stdout);
    const int fd = _dup(1);
    if (fd < 0) {
        return stdout;
    }
    _setmode(fd, _O_BINARY);
    std::FILE *stream = _fdopen(fd, "wb");
    if (stream == nullptr) {
        _close(fd);
        return stdout;
    }
    return stream;
}

[[noreturn]] void failSetUp(const char *what) {
    throw HostError(fmt::format("cannot set up a file for the library's records: {}", what));
}

}  // namespace

std::FILE *dataOutput() {
    static std::FILE *const data = openDataOutput();
    return data;
}

struct RecordCapture::State {
    int records = -1;  // the temporary file, removed when closed
};

RecordCapture::RecordCapture() : state_(new State) {
    std::FILE *const data = dataOutput();
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    HANDLE file = INVALID_HANDLE_VALUE;
    if (length > 0 && length <= MAX_PATH && GetTempFileNameW(folder, L"s55", 0, name) != 0) {
        file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    }
    if (file != INVALID_HANDLE_VALUE) {
        state_->records = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
        if (state_->records < 0) {
            CloseHandle(file);
        }
    }
    const char *fault = state_->records < 0 ? "no temporary file" : data == stdout ? "standard output is not open" : nullptr;
    if (fault == nullptr) {
        std::fflush(stdout);
        fault = _dup2(state_->records, 1) != 0 ? "descriptor 1 cannot be pointed at it" : nullptr;
    }
    if (fault != nullptr) {
        if (state_->records >= 0) {
            _close(state_->records);
        }
        delete state_;
        failSetUp(fault);
    }
}

RecordCapture::~RecordCapture() {
    // Descriptor 1 back as it was, for anything written after the library.
    std::FILE *const data = dataOutput();
    std::fflush(stdout);
    std::fflush(data);
    _dup2(_fileno(data), 1);
    _close(state_->records);
    delete state_;
}

void RecordCapture::begin() {}

void RecordCapture::end() {}

std::vector<std::string> RecordCapture::records() const {
    std::fflush(stdout);
    const long long end = _lseeki64(state_->records, 0, SEEK_END);
    std::string text;
    if (end > 0 && _lseeki64(state_->records, 0, SEEK_SET) == 0) {
        text.resize(static_cast<std::size_t>(end));
        std::size_t done = 0;
        while (done < text.size()) {
            const auto chunk = static_cast<unsigned>(std::min<std::size_t>(text.size() - done, 1 << 20));
            const int n = _read(state_->records, text.data() + done, chunk);
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        text.resize(done);
    }
    _lseeki64(state_->records, 0, SEEK_END);  // later records follow these
    return splitRecords(text);
}

void prepareStandardOutput() {
    // The bytes the host writes, with no line break turned into CR LF, so
    // that what goes through standard output and error is the same as on
    // Linux (a console shows a bare LF as a line break too).
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

}  // namespace su55if::host
