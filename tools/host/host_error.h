// The one kind of error the host reports: a message for standard error and
// the exit code that goes with it.
#pragma once

#include <stdexcept>
#include <string>

namespace su55if::host {

// Exit codes of su55if-host.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRejected = 1;  // the library returned status 4
inline constexpr int kExitError = 2;     // usage, cycle file, library loading, output files
inline constexpr int kExitLibraryEnded = 3;  // the library ended the process during a call

class HostError : public std::runtime_error {
public:
    explicit HostError(const std::string &message, int exitCode = kExitError)
        : std::runtime_error(message), exitCode_(exitCode) {}
    int exitCode() const { return exitCode_; }

private:
    int exitCode_;
};

}  // namespace su55if::host
