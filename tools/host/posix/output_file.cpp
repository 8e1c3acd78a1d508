#include <fmt/format.h>

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "engine/error.h"
#include "host/output_file.h"
#include "engine/text.h"
#include "host/standard_output.h"

namespace su55if::host {

using engine::Error;
using engine::printable;
using engine::utf8Prefix;
namespace {

// The temporary files that a signal ending the run removes. The handler reads
// a name only while its flag is set, which happens once the name is whole.
char temporaryNames[4][PATH_MAX];
volatile sig_atomic_t temporaryUsed[4];
constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGTERM, SIGXFSZ};

extern "C" void removeTemporariesAndDie(int signal) {
    removeTemporaryOutputs();
    ::signal(signal, SIG_DFL);  // die of it, as without the handler
    raise(signal);
}

// The file `path` names with symbolic links followed; a dangling link gives
// the path it names. `throughProc` tells whether the way led through /proc
// (/dev/stdout, /dev/fd/N): such a name stands for a file already open.
std::string followLinks(std::string path, bool &throughProc) {
    for (int hops = 0; hops < 40; ++hops) {
        const std::string folder = path.substr(0, path.rfind('/') + 1);  // "" or ending in '/'
        char buffer[PATH_MAX];
        throughProc |= realpath((folder + ".").c_str(), buffer) != nullptr && std::strncmp(buffer, "/proc/", 6) == 0;
        const ssize_t length = readlink(path.c_str(), buffer, sizeof buffer);
        if (length <= 0 || length == sizeof buffer) {
            break;
        }
        path = (buffer[0] == '/' ? "" : folder) + std::string(buffer, static_cast<std::size_t>(length));
    }
    return path;
}

// Creates the temporary file beside `target` (its name cut between characters
// to fit), entered in the table with the ending signals held off meanwhile.
int createTemporary(const std::string &target, int &slot) {
    sigset_t signals, old;
    sigemptyset(&signals);
    for (const int signal : kEndingSignals) {
        struct sigaction action {};
        if (sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_DFL) {  // an ignored one stays so
            ::signal(signal, removeTemporariesAndDie);
        }
        sigaddset(&signals, signal);
    }
    constexpr std::string_view kSuffix = ".tmp-XXXXXX";
    const std::size_t folder = target.rfind('/') + 1;  // 0 without one
    const std::string_view last = utf8Prefix(std::string_view(target).substr(folder), NAME_MAX - kSuffix.size());
    const std::string name = target.substr(0, folder) + std::string(last) + std::string(kSuffix);
    const auto entry = std::find(std::begin(temporaryUsed), std::end(temporaryUsed), 0) - temporaryUsed;
    if (name.size() >= PATH_MAX || entry == std::ssize(temporaryUsed)) {
        errno = name.size() >= PATH_MAX ? ENAMETOOLONG : EMFILE;
        return -1;
    }
    sigprocmask(SIG_BLOCK, &signals, &old);
    std::memcpy(temporaryNames[entry], name.c_str(), name.size() + 1);
    const int fd = mkostemp(temporaryNames[entry], O_CLOEXEC);
    temporaryUsed[entry] = fd >= 0 ? 1 : 0;
    slot = fd >= 0 ? static_cast<int>(entry) : -1;
    sigprocmask(SIG_SETMASK, &old, nullptr);  // keeps errno
    return fd;
}

[[noreturn]] void failWith(const std::string &what, int error) {
    throw Error(fmt::format("cannot write {}: {}", what, std::strerror(error)));
}

}  // namespace

void removeTemporaryOutputs() {
    for (std::size_t slot = 0; slot < std::size(temporaryUsed); ++slot) {
        if (temporaryUsed[slot] != 0) {
            unlink(temporaryNames[slot]);
        }
    }
}

namespace {

std::string identityOf(const struct stat &status) {
    return S_ISREG(status.st_mode) ? fmt::format("file:{}:{}", status.st_dev, status.st_ino) : "";
}

}  // namespace

std::string fileIdentity(const std::string &path) {
    struct stat status {};
    if (path.empty() || stat(path.c_str(), &status) == 0) {
        return path.empty() ? "" : identityOf(status);
    }
    bool throughProc = false;
    std::error_code error;
    const auto absolute = std::filesystem::absolute(followLinks(path, throughProc), error);
    return error ? "" : "name:" + std::filesystem::weakly_canonical(absolute, error).string();
}

std::string standardOutputIdentity() {
    struct stat status {};
    return fstat(fileno(dataOutput()), &status) == 0 ? identityOf(status) : "";
}

OutputFile::OutputFile(const std::string &path) : path_(path) {
    struct stat status {};
    const bool exists = stat(path.c_str(), &status) == 0;
    if (!exists && errno != ENOENT) {
        fail(errno);
    }
    // A file the user may not write is refused, as the shell's `>` refuses
    // it, although the rename could replace it (root may write any file).
    if (exists && S_ISREG(status.st_mode) && faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
        fail(errno);
    }
    bool throughProc = false;
    target_ = followLinks(path, throughProc);
    if (exists && (!S_ISREG(status.st_mode) || throughProc)) {
        // Devices and FIFOs as the output comes; a file already open is appended to.
        fd_ = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (S_ISREG(status.st_mode) ? O_APPEND : 0));
    } else if ((fd_ = createTemporary(target_, slot_)) >= 0) {
        // The owner (only root may keep it) before the bits, which chown may clear.
        [[maybe_unused]] const bool ownerKept = !exists || fchown(fd_, status.st_uid, status.st_gid) == 0;
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd_, exists ? status.st_mode & 07777 : 0666 & ~mask);
    }
    if (fd_ < 0) {
        fail(errno);
    }
    // A failed write is kept for close() and checkWrites() to report with the name.
    const auto writeOut = [](void *cookie, const char *data, std::size_t size) -> ssize_t {
        auto &file = *static_cast<OutputFile *>(cookie);
        for (std::size_t written = 0; written < size && file.writeError_ == 0;) {
            const ssize_t n = write(file.fd_, data + written, size - written);
            written += n > 0 ? static_cast<std::size_t>(n) : 0;
            file.writeError_ = n < 0 && errno != EINTR ? errno : 0;
        }
        return static_cast<ssize_t>(size);
    };
    stream_ = fopencookie(this, "w", {nullptr, writeOut, nullptr, nullptr});
    if (stream_ == nullptr) {
        fail(errno);
    }
}

void OutputFile::discard() {
    if (stream_ != nullptr) {
        writeError_ = writeError_ != 0 ? writeError_ : EIO;  // nothing more reaches the file
        std::fclose(std::exchange(stream_, nullptr));
    }
    if (fd_ >= 0) {
        ::close(std::exchange(fd_, -1));
    }
    if (slot_ >= 0) {
        unlink(temporaryNames[slot_]);
        temporaryUsed[std::exchange(slot_, -1)] = 0;
    }
}

void OutputFile::fail(int error) {
    discard();
    failWith(printable(path_), error);
}

void OutputFile::checkWrites() {
    if (writeError_ != 0) {
        fail(writeError_);
    }
}

void OutputFile::close() {
    std::fclose(std::exchange(stream_, nullptr));
    checkWrites();
    if ((slot_ >= 0 && fsync(fd_) != 0) || ::close(std::exchange(fd_, -1)) != 0) {  // on disk before the rename
        fail(errno);
    }
}

void OutputFile::publish() {
    if (slot_ >= 0) {
        if (std::rename(temporaryNames[slot_], target_.c_str()) != 0) {
            fail(errno);
        }
        temporaryUsed[std::exchange(slot_, -1)] = 0;
    }
}

}  // namespace su55if::host
