// The one kind of error the workbench reports: one or more diagnostics
// (diagnostic.h) and the exit code that goes with them. Every front end
// gives the same codes; what() is the host's wording of the first.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/diagnostic.h"

namespace su55if::engine {

// Exit codes of su55if-host, and of every front end of the engine.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRejected = 1;  // the library returned status 4
inline constexpr int kExitError = 2;     // usage, cycle file, library loading, output files
inline constexpr int kExitLibraryEnded = 3;  // the library ended the process during a call

class Error : public std::runtime_error {
public:
    // A fault with no kind of its own.
    explicit Error(const std::string &message, int exitCode = kExitError)
        : Error(engine::diagnostic(DiagnosticKind::other, message), exitCode) {}
    explicit Error(Diagnostic diagnostic, int exitCode = kExitError)
        : Error(std::vector<Diagnostic>{std::move(diagnostic)}, exitCode) {}
    // Several faults found together (the cells of a cycle given as rows).
    explicit Error(std::vector<Diagnostic> diagnostics, int exitCode = kExitError)
        : std::runtime_error(hostText(diagnostics.front())), diagnostics_(std::move(diagnostics)),
          exitCode_(exitCode) {}
    int exitCode() const { return exitCode_; }
    const Diagnostic &diagnostic() const { return diagnostics_.front(); }
    const std::vector<Diagnostic> &diagnostics() const { return diagnostics_; }

private:
    std::vector<Diagnostic> diagnostics_;
    int exitCode_;
};

}  // namespace su55if::engine
