#include "output_file.h"

#include <fmt/format.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "host_error.h"

namespace su55if::host {

namespace {

[[noreturn]] void failWith(const std::string &path, int error, const std::string &temporary) {
    if (!temporary.empty()) {
        unlink(temporary.c_str());
    }
    throw HostError(fmt::format("cannot write {}: {}", path, std::strerror(error)));
}

}  // namespace

void writeFileAtomically(const std::string &path, std::string_view content) {
    // In the target's own directory, so that the rename stays within one file system.
    std::string pattern = path + ".tmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        failWith(path, errno, {});
    }
    const std::string temporary(name.data());

    // mkstemp creates the file for its owner alone; give it the mode a new
    // file would get.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);

    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t n = write(fd, content.data() + written, content.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno;
            close(fd);
            failWith(path, error, temporary);
        }
        written += static_cast<std::size_t>(n);
    }
    int error = fsync(fd) == 0 ? 0 : errno;
    if (close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        failWith(path, error, temporary);
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        failWith(path, errno, temporary);
    }
}

}  // namespace su55if::host
