#include <csignal>

#include "host/standard_output.h"

namespace su55if::host {

void prepareStandardOutput() {
    // A reader that closes standard output early (`| head`) ends the run
    // quietly: the write fails with EPIPE instead of killing the process.
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace su55if::host
