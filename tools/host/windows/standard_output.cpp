#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "host/standard_output.h"

namespace su55if::host {

void prepareStandardOutput() {
    // The bytes the host writes, with no line break turned into CR LF, so
    // that what goes through standard output and error is the same as on
    // Linux (a console shows a bare LF as a line break too).
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

}  // namespace su55if::host
