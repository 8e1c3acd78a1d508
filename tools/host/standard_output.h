// The host's standard output: data alone (callkit::dataOutput(), since the
// library's records are captured), every write to it checked, and a reader
// that closes it early (`| head`) ending the run quietly.
#pragma once

#include <exception>
#include <string>

#include "callkit/record_capture.h"

namespace su55if::host {

using callkit::dataOutput;

// Standard output was closed by its reader: the run ends quietly.
struct ClosedPipe {};

// Sets standard output up for data, once at start-up: a reader closing it
// early does not kill the process, and bytes go out as written
// (posix/standard_output.cpp, windows/standard_output.cpp).
void prepareStandardOutput();

// Flushes standard output and checks every write to it (Error, exit 2).
void finishStandardOutput();

// Throws ClosedPipe when a write to standard output failed because its
// reader closed it, Error for any other failed write.
void checkStandardOutput();

// The message for an exception that ends the run, naming standard output
// when a write to it failed (fmt::print throws then).
std::string describeFailure(const std::exception &error);

}  // namespace su55if::host
