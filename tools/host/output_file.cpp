#include "output_file.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "host_error.h"
#include "text.h"

namespace su55if::host {

namespace {

// ---- Temporary files removed on a signal that ends the run.
//
// The handler may only touch what it can read safely at any moment: a fixed
// table of names, each published by setting its flag after the name is
// written, and withdrawn by clearing the flag first.

struct TemporaryName {
    volatile sig_atomic_t used = 0;
    char name[PATH_MAX] = {};
};
std::array<TemporaryName, 16> temporaryNames;

constexpr std::array kEndingSignals{SIGHUP, SIGINT, SIGPIPE, SIGTERM, SIGXFSZ};

extern "C" void removeTemporariesAndDie(int signal) {
    for (const TemporaryName &entry : temporaryNames) {
        if (entry.used != 0) {
            unlink(entry.name);
        }
    }
    // Die of the same signal, as if the handler had not been there.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    raise(signal);
}

// Installs the handler once, for each signal still at its default action
// (one ignored by whoever started us stays ignored).
void installSignalHandler() {
    static bool installed = false;
    if (installed) {
        return;
    }
    installed = true;
    for (const int signal : kEndingSignals) {
        struct sigaction old {};
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) {
            struct sigaction action {};
            action.sa_handler = removeTemporariesAndDie;
            sigemptyset(&action.sa_mask);
            sigaction(signal, &action, nullptr);
        }
    }
}

// Blocks the ending signals while a temporary file is created or put in
// place together with its entry in the table.
class SignalsBlocked {
public:
    SignalsBlocked() {
        sigset_t set;
        sigemptyset(&set);
        for (const int signal : kEndingSignals) {
            sigaddset(&set, signal);
        }
        sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalsBlocked() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
    SignalsBlocked(const SignalsBlocked &) = delete;
    SignalsBlocked &operator=(const SignalsBlocked &) = delete;

private:
    sigset_t old_;
};

void forgetTemporary(int slot) {
    if (slot >= 0) {
        temporaryNames[static_cast<std::size_t>(slot)].used = 0;
    }
}

// ---- Paths.

std::string folderOf(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a path names once symbolic links are followed. A link in this
// process's /proc/PID/fd (/dev/stdout, /dev/fd/N, a process substitution)
// names a file already open here: its descriptor is given instead, to be
// written through. A link elsewhere in /proc also names an open file, which
// must not be replaced. A link that names nothing gives the path it names.
// Too many links (a loop) stop the walk; opening the result reports the loop.
struct Followed {
    std::string path;
    int descriptor = -1;
    bool throughProc = false;
};

Followed followLinks(const std::string &path) {
    const std::string ownDescriptors = fmt::format("/proc/{}/fd", getpid());
    Followed followed{path};
    for (int hops = 0; hops < 40; ++hops) {
        char folder[PATH_MAX];
        const bool inProc = realpath(folderOf(followed.path).c_str(), folder) != nullptr &&
                            std::strncmp(folder, "/proc/", 6) == 0;
        followed.throughProc = followed.throughProc || inProc;
        struct stat status {};
        if (lstat(followed.path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            break;
        }
        if (inProc && folder == ownDescriptors) {
            const std::string name = nameOf(followed.path);
            char *end = nullptr;
            const long descriptor = std::strtol(name.c_str(), &end, 10);
            if (!name.empty() && *end == '\0' && descriptor >= 0 && descriptor <= INT_MAX) {
                followed.descriptor = static_cast<int>(descriptor);
            }
            break;
        }
        std::string target(PATH_MAX, '\0');  // st_size is 0 for some links
        const ssize_t length = readlink(followed.path.c_str(), target.data(), target.size());
        if (length < 0 || static_cast<std::size_t>(length) >= target.size()) {
            break;
        }
        target.resize(static_cast<std::size_t>(length));
        followed.path = target.starts_with('/') ? target : folderOf(followed.path) + "/" + target;
    }
    return followed;
}

// A name for the temporary file beside `target`: the target's name cut, at a
// character boundary, so that the whole fits the folder's name limit.
std::string temporaryPattern(const std::string &target) {
    constexpr std::string_view kSuffix = ".tmp-XXXXXX";
    const std::string folder = folderOf(target);
    const long limit = pathconf(folder.c_str(), _PC_NAME_MAX);
    const std::size_t maxName = limit > 0 ? static_cast<std::size_t>(limit) : NAME_MAX;
    std::string name = nameOf(target);
    if (name.size() + kSuffix.size() > maxName) {
        std::size_t cut = maxName - kSuffix.size();
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        name.resize(cut);
    }
    return (target.find('/') == std::string::npos ? "" : folderOf(target) + "/") + name + std::string(kSuffix);
}

[[noreturn]] void failWith(const std::string &what, int error) {
    throw HostError(fmt::format("cannot write {}: {}", what, std::strerror(error)));
}

}  // namespace

// ---- OutputFile.

OutputFile::OutputFile(const std::string &path) : path_(path), target_(path) {
    struct stat status {};
    const bool exists = stat(path.c_str(), &status) == 0;
    if (!exists && errno != ENOENT) {
        fail(errno);
    }
    const Followed followed = followLinks(path);
    if (followed.descriptor >= 0 && exists) {
        // A file this process has open: written through its descriptor, at
        // its offset, as the run's standard output would be.
        mode_ = Mode::inPlace;
        fd_ = fcntl(followed.descriptor, F_DUPFD_CLOEXEC, 0);
    } else if (exists && (!S_ISREG(status.st_mode) || followed.throughProc)) {
        // Devices and FIFOs; a file another process has open is added to.
        mode_ = Mode::inPlace;
        fd_ = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (S_ISREG(status.st_mode) ? O_APPEND : 0));
    } else if (exists && status.st_nlink > 1) {
        // Renaming would cut this name off from the file's other links: the
        // content waits in an unnamed file until it is copied in.
        mode_ = Mode::copyIn;
        target_ = followed.path;
        fd_ = open(folderOf(target_).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            std::FILE *scratch = std::tmpfile();
            fd_ = scratch == nullptr ? -1 : fcntl(fileno(scratch), F_DUPFD_CLOEXEC, 0);
            if (scratch != nullptr) {
                std::fclose(scratch);
            }
        }
    } else {
        mode_ = Mode::replace;
        target_ = followed.path;
        createTemporary(exists ? &status : nullptr);
    }
    if (fd_ < 0) {
        fail(errno);
    }
    // A failed write is kept, not thrown at whoever writes: commit() and
    // checkWrites() report it with the file's name.
    const cookie_io_functions_t functions{nullptr, &OutputFile::writeOut, nullptr, nullptr};
    stream_ = fopencookie(this, "w", functions);
    if (stream_ == nullptr) {
        fail(errno);
    }
    std::setvbuf(stream_, nullptr, _IOFBF, 1 << 16);
}

void OutputFile::createTemporary(const struct stat *existing) {
    std::string name = temporaryPattern(target_);
    if (name.size() >= PATH_MAX) {
        fail(ENAMETOOLONG);
    }
    installSignalHandler();
    {
        const SignalsBlocked blocked;
        const auto free = std::find_if(temporaryNames.begin(), temporaryNames.end(),
                                       [](const TemporaryName &entry) { return entry.used == 0; });
        if (free == temporaryNames.end()) {
            throw HostError("too many output files in one run");
        }
        fd_ = mkostemp(name.data(), O_CLOEXEC);
        if (fd_ < 0) {
            fail(errno);
        }
        std::memcpy(free->name, name.c_str(), name.size() + 1);
        free->used = 1;
        slot_ = static_cast<int>(free - temporaryNames.begin());
        temporary_ = name;
    }
    if (existing != nullptr) {
        // The owner first (root may write another user's file), then the
        // bits, which a change of owner may clear. Others than root may not
        // give a file away: it becomes theirs.
        if (fchown(fd_, existing->st_uid, existing->st_gid) != 0) {
            errno = 0;
        }
        fchmod(fd_, existing->st_mode & 07777);
    } else {
        // mkstemp creates the file for its owner alone; give it the mode a
        // new file gets.
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd_, 0666 & ~mask);
    }
}

ssize_t OutputFile::writeOut(void *cookie, const char *data, std::size_t size) {
    auto &file = *static_cast<OutputFile *>(cookie);
    for (std::size_t written = 0; written < size && file.writeError_ == 0;) {
        const ssize_t n = write(file.fd_, data + written, size - written);
        if (n < 0 && errno != EINTR) {
            file.writeError_ = errno;
        } else if (n > 0) {
            written += static_cast<std::size_t>(n);
        }
    }
    return static_cast<ssize_t>(size);
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() {
    if (stream_ != nullptr) {
        writeError_ = writeError_ == 0 ? -1 : writeError_;  // nothing more reaches the file
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        const SignalsBlocked blocked;
        unlink(temporary_.c_str());
        forgetTemporary(slot_);
        temporary_.clear();
    }
}

std::FILE *OutputFile::stream() { return stream_; }

const std::string &OutputFile::path() const { return path_; }

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
    if (closed_) {
        return;
    }
    std::fflush(stream_);
    checkWrites();
    std::fclose(stream_);
    stream_ = nullptr;
    checkWrites();
    // What a device or FIFO has taken is written; a file must reach the disk
    // before it replaces the old one.
    if (mode_ == Mode::replace && fsync(fd_) != 0) {
        fail(errno);
    }
    if (mode_ != Mode::copyIn) {
        const int result = ::close(fd_);
        fd_ = -1;
        if (result != 0) {
            fail(errno);
        }
    }
    closed_ = true;
}

void OutputFile::publish() {
    if (mode_ == Mode::replace) {
        const SignalsBlocked blocked;
        if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
            fail(errno);
        }
        forgetTemporary(slot_);
        temporary_.clear();
    } else if (mode_ == Mode::copyIn) {
        // Into the file itself, so that all its links see the new content.
        // The space is reserved first where the file system can, so that a
        // full disk is found before the old content is touched. A signal
        // waits until the copy is whole.
        const SignalsBlocked blocked;
        const off_t size = lseek(fd_, 0, SEEK_END);
        const int to = open(target_.c_str(), O_WRONLY | O_CLOEXEC);
        if (size < 0 || to < 0) {
            fail(errno);
        }
        int error = 0;
        if (size > 0 && fallocate(to, FALLOC_FL_KEEP_SIZE, 0, size) != 0 && errno != EOPNOTSUPP && errno != ENOSYS) {
            error = errno;
        }
        char buffer[1 << 16];
        for (off_t offset = 0; error == 0 && offset < size;) {
            const ssize_t got = pread(fd_, buffer, sizeof buffer, offset);
            const ssize_t put = got > 0 ? pwrite(to, buffer, static_cast<std::size_t>(got), offset) : -1;
            if (put > 0) {
                offset += put;
            } else if (errno != EINTR) {
                error = got == 0 ? EIO : errno;
            }
        }
        if (error == 0 && (ftruncate(to, size) != 0 || fsync(to) != 0)) {
            error = errno;
        }
        if (::close(to) != 0 && error == 0) {
            error = errno;
        }
        if (error != 0) {
            fail(error);
        }
        ::close(fd_);
        fd_ = -1;
    }
}

void OutputFile::commit() {
    close();
    publish();
}

// ---- OutputSet.

OutputFile &OutputSet::add(const std::string &path) {
    files_.push_back(std::make_unique<OutputFile>(path));
    return *files_.back();
}

void OutputSet::commit() {
    for (const auto &file : files_) {
        file->close();
    }
    // Copying into a hard-linked file may still fail for want of space;
    // renames hardly can. So copies first, renames last.
    std::stable_partition(files_.begin(), files_.end(),
                          [](const auto &file) { return file->mode_ == OutputFile::Mode::copyIn; });
    for (const auto &file : files_) {
        file->publish();
    }
}

// ---- Paths that must differ.

namespace {

// What a path refers to, for comparing: a regular file by device and inode,
// a path that names nothing yet by its absolute form, links followed.
struct Identity {
    enum Kind { regular, missing, other } kind = other;
    dev_t device = 0;
    ino_t inode = 0;
    std::string absolute;

    bool sameAs(const Identity &that) const {
        if (kind != that.kind) {
            return false;
        }
        return kind == regular ? device == that.device && inode == that.inode
                               : kind == missing && absolute == that.absolute;
    }
};

Identity identify(const std::string &path) {
    Identity identity;
    struct stat status {};
    if (stat(path.c_str(), &status) == 0) {
        if (S_ISREG(status.st_mode)) {
            identity = {Identity::regular, status.st_dev, status.st_ino, {}};
        }
    } else if (errno == ENOENT) {
        std::error_code error;
        const auto absolute = std::filesystem::weakly_canonical(std::filesystem::absolute(followLinks(path).path), error);
        if (!error) {
            identity = {Identity::missing, 0, 0, absolute.string()};
        }
    }
    return identity;
}

}  // namespace

void refuseClashingPaths(const std::vector<std::string> &inputs, const std::vector<std::string> &outputs) {
    std::vector<Identity> inputIds;
    for (const std::string &input : inputs) {
        inputIds.push_back(input.empty() ? Identity{} : identify(input));
    }
    std::vector<Identity> outputIds;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const Identity id = outputs[i].empty() ? Identity{} : identify(outputs[i]);
        for (std::size_t j = 0; j < inputs.size(); ++j) {
            if (id.kind == Identity::regular && id.sameAs(inputIds[j])) {
                throw HostError(fmt::format("will not write {}: it is the input file {}", printable(outputs[i]),
                                            printable(inputs[j])));
            }
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (id.sameAs(outputIds[j])) {
                throw HostError(fmt::format("will not write {} and {}: they are the same file",
                                            printable(outputs[j]), printable(outputs[i])));
            }
        }
        outputIds.push_back(id);
    }
}

void finishStandardOutput() {
    // A write that failed earlier leaves its error number behind, unless a
    // later call changed it.
    const bool failedEarlier = std::ferror(stdout) != 0;
    const int earlier = errno;
    errno = 0;
    if (std::fflush(stdout) != 0 || failedEarlier) {
        const int error = errno != 0 ? errno : earlier != 0 ? earlier : EIO;
        std::clearerr(stdout);
        failWith("to standard output", error);
    }
}

std::string describeFailure(const std::exception &error) {
    const auto *failure = dynamic_cast<const std::system_error *>(&error);
    if (failure != nullptr && std::ferror(stdout) != 0) {
        return fmt::format("cannot write to standard output: {}", std::strerror(failure->code().value()));
    }
    return error.what();
}

}  // namespace su55if::host
