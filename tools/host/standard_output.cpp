#include "host/standard_output.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "engine/error.h"

namespace su55if::host {

void finishStandardOutput() {
    const int earlier = std::ferror(dataOutput()) == 0 ? 0 : errno != 0 ? errno : EIO;  // left by the failed write
    errno = 0;
    if (std::fflush(dataOutput()) != 0 || earlier != 0) {
        std::clearerr(dataOutput());
        const int error = errno != 0 ? errno : earlier != 0 ? earlier : EIO;
        throw engine::Error(fmt::format("cannot write to standard output: {}", std::strerror(error)));
    }
}

std::string describeFailure(const std::exception &error) {
    const auto *failure = dynamic_cast<const std::system_error *>(&error);
    return failure != nullptr && std::ferror(dataOutput()) != 0
               ? fmt::format("cannot write to standard output: {}", std::strerror(failure->code().value()))
               : error.what();
}

void checkStandardOutput() {
    if (std::ferror(dataOutput()) != 0) {
        if (errno == EPIPE) {
            throw ClosedPipe{};
        }
        finishStandardOutput();  // throws, naming the error
    }
}

}  // namespace su55if::host
