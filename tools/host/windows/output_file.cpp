#include <fcntl.h>
#include <fmt/format.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "engine/error.h"
#include "host/output_file.h"
#include "engine/text.h"
#include "host/standard_output.h"
#include "host/windows/wide_text.h"

namespace su55if::host {

using engine::Error;
using engine::printable;
using engine::utf8Prefix;
namespace {

// The temporary files that Ctrl-C, Ctrl-Break or the console closing removes.
// The handler runs on a thread of its own and reads a name only while its
// flag is set, which happens once the name is whole. The files are open with
// FILE_SHARE_DELETE, so that they can be removed while being written.
constexpr std::size_t kNameCapacity = 32768;  // UTF-16 units of the longest path
wchar_t temporaryNames[4][kNameCapacity];
volatile LONG temporaryUsed[4];

BOOL WINAPI removeTemporaries(DWORD) {
    removeTemporaryOutputs();
    return FALSE;  // and on to the default handler, which ends the process
}

// A Windows error as the errno value whose text says the same.
int errnoOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
        return EINVAL;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    default:
        return EIO;
    }
}

// The handle to a file that exists, for its type and identity; query rights
// only, folders included.
HANDLE openForQuery(const std::wstring &path) {
    return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Creates the temporary file beside `target`, entered in the table first.
HANDLE createTemporary(const std::string &target, int &slot) {
    [[maybe_unused]] static const bool handled = SetConsoleCtrlHandler(removeTemporaries, TRUE) != 0;
    const auto entry = std::find(std::begin(temporaryUsed), std::end(temporaryUsed), 0) - temporaryUsed;
    if (entry == std::ssize(temporaryUsed)) {
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return INVALID_HANDLE_VALUE;
    }
    // 255 bytes of UTF-8 fit in 255 UTF-16 units too.
    constexpr std::size_t kSuffixSize = 11;  // ".tmp-" and six hex digits
    const std::size_t folder = target.find_last_of("\\/:") + 1;  // 0 without one
    const std::string_view last = utf8Prefix(std::string_view(target).substr(folder), 255 - kSuffixSize);
    const std::wstring stem = wide(target.substr(0, folder) + std::string(last));
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring name =
            stem + wide(fmt::format(".tmp-{:06x}", (GetCurrentProcessId() * 7919U + GetTickCount() + ++counter) & 0xFFFFFFU));
        if (name.size() >= kNameCapacity) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return INVALID_HANDLE_VALUE;
        }
        std::copy(name.begin(), name.end(), temporaryNames[entry]);
        temporaryNames[entry][name.size()] = L'\0';
        InterlockedExchange(&temporaryUsed[entry], 1);
        const HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            slot = static_cast<int>(entry);
            return file;
        }
        const DWORD error = GetLastError();
        InterlockedExchange(&temporaryUsed[entry], 0);
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

void removeTemporaryOutputs() {
    for (std::size_t slot = 0; slot < std::size(temporaryUsed); ++slot) {
        if (temporaryUsed[slot] != 0) {
            DeleteFileW(temporaryNames[slot]);
        }
    }
}

OutputFile::OutputFile(const std::string &path) : path_(path), target_(path) {
    const std::wstring name = wide(path);
    HANDLE file = INVALID_HANDLE_VALUE;
    const HANDLE existing = path.empty() ? INVALID_HANDLE_VALUE : openForQuery(name);
    if (existing != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION information{};
        const bool folder = GetFileInformationByHandle(existing, &information) != 0 &&
                            (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool readOnly = (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
        const bool onDisk = GetFileType(existing) == FILE_TYPE_DISK;
        CloseHandle(existing);
        if (folder) {
            fail(EISDIR);
        }
        if (onDisk && readOnly) {
            fail(EACCES);  // as cmd's `>` refuses it, although the rename could replace it
        }
        if (!onDisk) {
            // A device (NUL, CON) or a pipe, written in place.
            file = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               0, nullptr);
            if (file == INVALID_HANDLE_VALUE) {
                fail(errnoOf(GetLastError()));
            }
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        file = createTemporary(path, slot_);
        if (file == INVALID_HANDLE_VALUE) {
            fail(errnoOf(GetLastError()));
        }
    }
    fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY | _O_WRONLY);
    if (fd_ < 0) {
        CloseHandle(file);
        fail(EMFILE);
    }
    stream_ = _fdopen(fd_, "wb");
    if (stream_ == nullptr) {
        fail(errno != 0 ? errno : EMFILE);
    }
}

void OutputFile::discard() {
    if (stream_ != nullptr) {
        std::fclose(std::exchange(stream_, nullptr));  // closes fd_ too
        fd_ = -1;
    }
    if (fd_ >= 0) {
        _close(std::exchange(fd_, -1));
    }
    if (slot_ >= 0) {
        DeleteFileW(temporaryNames[slot_]);
        InterlockedExchange(&temporaryUsed[std::exchange(slot_, -1)], 0);
    }
}

void OutputFile::fail(int error) {
    discard();
    throw Error(fmt::format("cannot write {}: {}", printable(path_), std::strerror(error)));
}

void OutputFile::checkWrites() {
    if (writeError_ == 0 && stream_ != nullptr && std::ferror(stream_) != 0) {
        writeError_ = errno != 0 ? errno : EIO;
    }
    if (writeError_ != 0) {
        fail(writeError_);
    }
}

void OutputFile::close() {
    errno = 0;
    if (std::fflush(stream_) != 0 && writeError_ == 0) {
        writeError_ = errno != 0 ? errno : EIO;
    }
    checkWrites();
    // On disk before the rename.
    if (slot_ >= 0 && FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(fd_))) == 0) {
        fail(errnoOf(GetLastError()));
    }
    fd_ = -1;
    if (std::fclose(std::exchange(stream_, nullptr)) != 0) {
        fail(errno != 0 ? errno : EIO);
    }
}

void OutputFile::publish() {
    if (slot_ >= 0) {
        // The replaced file's attributes (read-only, hidden, ...) pass to the
        // new one, as its permission bits do on POSIX systems. A read-only
        // file is made writable for the replacement, which it refuses else.
        const std::wstring target = wide(target_);
        constexpr DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        const DWORD old = GetFileAttributesW(target.c_str());
        const bool readOnly = old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY) != 0;
        if (readOnly) {
            SetFileAttributesW(target.c_str(), old & ~DWORD{FILE_ATTRIBUTE_READONLY});
        }
        if (MoveFileExW(temporaryNames[slot_], target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ==
            0) {
            const DWORD error = GetLastError();
            if (readOnly) {
                SetFileAttributesW(target.c_str(), old);
            }
            fail(errnoOf(error));
        }
        InterlockedExchange(&temporaryUsed[std::exchange(slot_, -1)], 0);
        if (old != INVALID_FILE_ATTRIBUTES) {
            SetFileAttributesW(target.c_str(), (old & kKept) != 0 ? old & kKept : FILE_ATTRIBUTE_NORMAL);
        }
    }
}

namespace {

// "file:" and the volume and index of a regular file open as `handle`, or "".
std::string identityOf(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information{};
    const bool regular = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &information) != 0 &&
                         (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    return regular ? fmt::format("file:{}:{}:{}", information.dwVolumeSerialNumber, information.nFileIndexHigh,
                                 information.nFileIndexLow)
                   : "";
}

}  // namespace

std::string standardOutputIdentity() {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(dataOutput())));
    return handle != INVALID_HANDLE_VALUE ? identityOf(handle) : "";
}

std::string fileIdentity(const std::string &path) {
    if (path.empty()) {
        return "";
    }
    const std::wstring name = wide(path);
    const HANDLE existing = openForQuery(name);
    if (existing != INVALID_HANDLE_VALUE) {
        const std::string identity = identityOf(existing);
        CloseHandle(existing);
        return identity;
    }
    // Not made yet: its full name, in one case (names on Windows are not
    // told apart by case).
    std::error_code error;
    const auto absolute = std::filesystem::weakly_canonical(std::filesystem::absolute(name, error), error);
    if (error) {
        return "";
    }
    std::wstring full = absolute.wstring();
    std::wstring upper(full.size(), L'\0');
    if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, full.data(), static_cast<int>(full.size()), upper.data(),
                     static_cast<int>(upper.size())) == static_cast<int>(full.size())) {
        full = upper;
    }
    return "name:" + narrow(full);
}

}  // namespace su55if::host
