// The library writes its diagnostic records to the C runtime's standard
// output. The host keeps its own standard output for data: it writes data
// to dataOutput() alone, and the library's calls are made between begin()
// and end() of a RecordCapture, which keeps what the library writes.
//
// On POSIX systems (record_capture_posix.cpp) dataOutput() is `stdout`, and
// begin() puts a memory stream in its place for the length of a call. On
// Windows (record_capture_windows.cpp) the DLL shares the host's C runtime,
// whose `stdout` cannot be replaced: dataOutput() is a stream on a copy of
// descriptor 1 made before the capture, which points descriptor 1 at a
// temporary file for as long as it lasts.
#pragma once

#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace su55if::host {

// Where the host's data for standard output goes.
std::FILE *dataOutput();

// Sets standard output up for data, once at start-up: a reader closing it
// early does not kill the process, and bytes go out as written.
void prepareStandardOutput();

// Flushes standard output and checks every write to it (HostError, exit 2).
void finishStandardOutput();

// The message for an exception that ends the run, naming standard output
// when a write to it failed (fmt::print throws then).
std::string describeFailure(const std::exception &error);


// One at a time, for as long as the library is loaded.
class RecordCapture {
public:
    RecordCapture();  // throws HostError when it cannot be set up
    RecordCapture(const RecordCapture &) = delete;
    RecordCapture &operator=(const RecordCapture &) = delete;
    ~RecordCapture();

    void begin();
    void end();

    // Everything captured so far, one record per line.
    std::vector<std::string> records() const;

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

}  // namespace su55if::host
