#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "callkit/record_capture.h"

namespace su55if::callkit {

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
    throw std::runtime_error(std::string("cannot set up a file for the library's records: ") + what);
}

}  // namespace

std::FILE *dataOutput() {
    static std::FILE *const data = openDataOutput();
    return data;
}

struct RecordCapture::State {
    int records = -1;     // the temporary file, removed when closed
    long long taken = 0;  // bytes of it that take() returned
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

namespace {

// The bytes of the records file from `from` to its end; the file position
// is left at the end, where later records follow these.
std::string readFrom(int records, long long from) {
    std::fflush(stdout);
    const long long end = _lseeki64(records, 0, SEEK_END);
    std::string text;
    if (end > from && _lseeki64(records, from, SEEK_SET) == from) {
        text.resize(static_cast<std::size_t>(end - from));
        std::size_t done = 0;
        while (done < text.size()) {
            const auto chunk = static_cast<unsigned>(std::min<std::size_t>(text.size() - done, 1 << 20));
            const int n = _read(records, text.data() + done, chunk);
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        text.resize(done);
    }
    _lseeki64(records, 0, SEEK_END);
    return text;
}

}  // namespace

std::vector<std::string> RecordCapture::records() const { return splitRecords(readFrom(state_->records, 0)); }

std::string RecordCapture::take() {
    std::string text = readFrom(state_->records, state_->taken);
    state_->taken += static_cast<long long>(text.size());
    return text;
}

}  // namespace su55if::callkit
