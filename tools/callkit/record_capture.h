// The library writes its diagnostic records to the C runtime's standard
// output. A caller that keeps its own standard output for data writes data
// to dataOutput() alone, and makes the library's calls between begin() and
// end() of a RecordCapture, which keeps what the library writes.
//
// On POSIX systems (posix/record_capture.cpp) dataOutput() is `stdout`, and
// begin() puts a memory stream in its place for the length of a call. On
// Windows (windows/record_capture.cpp) the DLL shares the host's C runtime,
// whose `stdout` cannot be replaced: dataOutput() is a stream on a copy of
// descriptor 1 made before the capture, which points descriptor 1 at a
// temporary file for as long as it lasts. Under Emscripten
// (wasm/record_capture.cpp) `stdout` cannot be replaced either: the capture
// points descriptor 1 at a file in the in-memory file system for as long as
// it lasts.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace su55if::callkit {

// Where the process's own data for standard output goes while records are
// captured: stdout itself on POSIX systems.
std::FILE *dataOutput();

// One at a time, for as long as the library is loaded.
class RecordCapture {
public:
    RecordCapture();  // throws std::runtime_error when it cannot be set up
    RecordCapture(const RecordCapture &) = delete;
    RecordCapture &operator=(const RecordCapture &) = delete;
    ~RecordCapture();

    void begin();
    void end();

    // Everything captured so far, one record per line.
    std::vector<std::string> records() const;
    // What was captured since the last take(), as written.
    std::string take();

private:
    struct State;
    State *state_;
};

// The lines of `text`, without their line breaks.
inline std::vector<std::string> splitRecords(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        lines.emplace_back(text.substr(0, newline));
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    }
    return lines;
}

}  // namespace su55if::callkit
