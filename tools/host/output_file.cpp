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

#include "host_error.h"
#include "text.h"

namespace host {

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

// The file a path names once symbolic links are followed, and whether one of
// them is a link in /proc, such as /dev/stdout or /dev/fd/N: those name a file
// this process already has open, which must be written in place. A link
// that names nothing gives the path it names. Too many links (a loop) stop
// the walk; opening the result then reports the loop.
struct Followed {
    std::string path;
    bool throughOpenFile = false;
};

Followed followLinks(const std::string &path) {
    Followed followed{path};
    for (int hops = 0; hops < 40; ++hops) {
        char folder[PATH_MAX];
        if (realpath(folderOf(followed.path).c_str(), folder) != nullptr && std::strncmp(folder, "/proc/", 6) == 0) {
            followed.throughOpenFile = true;
        }
        struct stat status {};
        if (lstat(followed.path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            break;
        }
        std::string target(static_cast<std::size_t>(status.st_size) + 1, '\0');
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
    if (exists && (!S_ISREG(status.st_mode) || followed.throughOpenFile)) {
        // Devices, FIFOs and files this process has open: in place. A regular
        // file reached through /dev/stdout is added to, so that `>>` appends.
        mode_ = Mode::inPlace;
        const int flags = O_WRONLY | O_NOCTTY | O_CLOEXEC | (S_ISREG(status.st_mode) ? O_APPEND : 0);
        const int fd = open(path.c_str(), flags);
        if (fd < 0 || (stream_ = fdopen(fd, "w")) == nullptr) {
            fail(errno);
        }
        return;
    }
    target_ = followed.path;
    if (exists && status.st_nlink > 1) {
        // Renaming would cut this name off from the file's other links.
        mode_ = Mode::copyIn;
        stream_ = std::tmpfile();
        if (stream_ == nullptr) {
            fail(errno);
        }
        return;
    }

    mode_ = Mode::replace;
    std::string name = temporaryPattern(target_);
    if (name.size() >= PATH_MAX) {
        fail(ENAMETOOLONG);
    }
    installSignalHandler();
    int fd = -1;
    {
        const SignalsBlocked blocked;
        const auto free = std::find_if(temporaryNames.begin(), temporaryNames.end(),
                                       [](const TemporaryName &entry) { return entry.used == 0; });
        if (free == temporaryNames.end()) {
            throw HostError("too many output files in one run");
        }
        fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) {
            fail(errno);
        }
        std::memcpy(free->name, name.c_str(), name.size() + 1);
        free->used = 1;
        slot_ = static_cast<int>(free - temporaryNames.begin());
        temporary_ = name;
    }
    if (exists) {
        // The owner first (root may write another user's file), then the
        // bits, which a change of owner may clear.
        if (fchown(fd, status.st_uid, status.st_gid) != 0) {
            // Not permitted for others than root: the file becomes the writer's.
        }
        fchmod(fd, status.st_mode & 07777);
    } else {
        // mkstemp creates the file for its owner alone; give it the mode a
        // new file gets.
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
    }
    stream_ = fdopen(fd, "w");
    if (stream_ == nullptr) {
        const int error = errno;
        ::close(fd);
        fail(error);
    }
}

OutputFile::~OutputFile() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
    }
    if (!temporary_.empty()) {
        const SignalsBlocked blocked;
        unlink(temporary_.c_str());
        forgetTemporary(slot_);
    }
}

std::FILE *OutputFile::stream() { return stream_; }

const std::string &OutputFile::path() const { return path_; }

void OutputFile::fail(int error) {
    if (stream_ != nullptr) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (!temporary_.empty()) {
        const SignalsBlocked blocked;
        unlink(temporary_.c_str());
        forgetTemporary(slot_);
        temporary_.clear();
    }
    failWith(printable(path_), error);
}

void OutputFile::checkWrites() {
    if (stream_ != nullptr && std::ferror(stream_) != 0) {
        fail(errno != 0 ? errno : EIO);
    }
}

void OutputFile::close() {
    if (closed_) {
        return;
    }
    errno = 0;
    if (std::fflush(stream_) != 0 || std::ferror(stream_) != 0) {
        fail(errno != 0 ? errno : EIO);
    }
    // What a device or FIFO has taken is written; a file must reach the disk
    // before it replaces the old one.
    if (mode_ == Mode::replace && fsync(fileno(stream_)) != 0) {
        fail(errno);
    }
    if (mode_ != Mode::copyIn) {
        const int result = std::fclose(stream_);
        stream_ = nullptr;
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
        // full disk is found before the old content is touched.
        const int from = fileno(stream_);
        const off_t size = lseek(from, 0, SEEK_END);
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
            const ssize_t got = pread(from, buffer, sizeof buffer, offset);
            const ssize_t put = got > 0 ? pwrite(to, buffer, static_cast<std::size_t>(got), offset) : -1;
            if (put < 0 || got <= 0) {
                error = got == 0 ? EIO : errno;
                if (error == EINTR) {
                    error = 0;
                    continue;
                }
            } else {
                offset += put;
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
        std::fclose(stream_);
        stream_ = nullptr;
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
        const auto absolute = std::filesystem::weakly_canonical(followLinks(path).path, error);
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
        inputIds.push_back(identify(input));
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
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        const int error = errno != 0 ? errno : EIO;
        std::clearerr(stdout);
        failWith("to standard output", error);
    }
}

}  // namespace host
