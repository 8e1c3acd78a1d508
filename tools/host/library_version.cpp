#include "host/library_version.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

#include "engine/error.h"
#include "su55if.h"
#include "engine/text.h"

namespace su55if::host {

using engine::Error;
using engine::printable;

namespace {

// As src/exports/version.c writes it: the marker, the version, a NUL.
constexpr std::string_view kMarker = "su55if version ";
constexpr std::size_t kMaxVersionLength = 32;
constexpr std::size_t kMaxBytesRead = std::size_t{64} << 20;
constexpr std::size_t kChunk = std::size_t{1} << 20;

bool isVersionCharacter(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '-' ||
           c == '+' || c == '~';
}

// The version after the marker at `at`, if a plausible one follows: a digit
// first, then version characters up to a NUL.
std::optional<std::string> versionAt(std::string_view data, std::size_t at) {
    const std::size_t start = at + kMarker.size();
    std::size_t end = start;
    while (end < data.size() && end - start <= kMaxVersionLength && isVersionCharacter(data[end])) {
        ++end;
    }
    if (end == start || end >= data.size() || data[end] != '\0' || end - start > kMaxVersionLength ||
        data[start] < '0' || data[start] > '9') {
        return std::nullopt;
    }
    return std::string(data.substr(start, end - start));
}

}  // namespace

std::optional<std::string> libraryFileVersion(const std::string &path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        throw Error(fmt::format("cannot read {}: {}", path, std::strerror(errno)));
    }
    // Read in chunks, keeping the end of the previous one so that a version
    // text across a chunk boundary is still found.
    const std::size_t keep = kMarker.size() + kMaxVersionLength + 1;
    std::string data;
    std::size_t total = 0;
    while (total < kMaxBytesRead) {
        const std::size_t old = data.size();
        data.resize(old + kChunk);
        const std::size_t got = std::fread(data.data() + old, 1, kChunk, file.get());
        data.resize(old + got);
        total += got;
        for (std::size_t at = data.find(kMarker); at != std::string::npos; at = data.find(kMarker, at + 1)) {
            if (std::optional<std::string> version = versionAt(data, at)) {
                return version;
            }
        }
        if (got < kChunk) {
            if (std::ferror(file.get())) {
                throw Error(fmt::format("cannot read {}: read error", path));
            }
            break;
        }
        data.erase(0, data.size() > keep ? data.size() - keep : 0);
    }
    return std::nullopt;
}

void printHostVersion(std::FILE *out) {
    fmt::print(out, "su55if-host {}\n", SU55IF_VERSION_STRING);
    // Out before any error about the library.
    std::fflush(out);
}

void printLibraryVersion(std::FILE *out, const std::string &libraryPath) {
    const std::optional<std::string> version = libraryFileVersion(libraryPath);
    if (version) {
        fmt::print(out, "su55if library {} ({})\n", *version, printable(libraryPath));
    } else {
        fmt::print(out, "su55if library of unknown version ({}: no version text in the file)\n",
                   printable(libraryPath));
    }
}

}  // namespace su55if::host
