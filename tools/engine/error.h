// The one kind of error the workbench reports: a message for the user and
// the exit code that goes with it. Every front end gives the same codes.
#pragma once

#include <stdexcept>
#include <string>

namespace su55if::engine {

// Exit codes of su55if-host, and of every front end of the engine.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRejected = 1;  // the library returned status 4
inline constexpr int kExitError = 2;     // usage, cycle file, library loading, output files
inline constexpr int kExitLibraryEnded = 3;  // the library ended the process during a call

class Error : public std::runtime_error {
public:
    explicit Error(const std::string &message, int exitCode = kExitError)
        : std::runtime_error(message), exitCode_(exitCode) {}
    int exitCode() const { return exitCode_; }

private:
    int exitCode_;
};

}  // namespace su55if::engine
