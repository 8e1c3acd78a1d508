#include "library.h"

#include <dlfcn.h>
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "host_error.h"
#include "library_file.h"

namespace su55if::host {

namespace {

const char *lastDlError() {
    const char *text = dlerror();
    return text != nullptr ? text : "unknown error";
}

std::string executableDirectory() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) {
        return {};
    }
    const std::string path(buffer, static_cast<std::size_t>(length));
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// An argument as the trace shows it: a scalar as its value, a vector in
// brackets. Shortest round-trip form, so the trace is exact.
std::string argumentText(std::span<const double> values) {
    if (values.size() == 1) {
        return fmt::format("{}", values[0]);
    }
    return fmt::format("[{}]", fmt::join(values, ", "));
}

}  // namespace

Library::Library(const std::string &path) : path_(path) {
    // A name without a slash would be looked up on the system's search path;
    // the user means the file.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    checkLibraryFile(path);
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        throw HostError(fmt::format("cannot load the library: {}", lastDlError()));
    }
    records_ = open_memstream(&recordText_, &recordSize_);
    if (records_ == nullptr) {
        throw HostError(fmt::format("cannot set up a buffer for the library's records: {}", std::strerror(errno)));
    }
}

Library::~Library() {
    std::fclose(records_);
    std::free(recordText_);
}

std::vector<std::string> Library::records() const {
    std::fflush(records_);
    std::vector<std::string> lines;
    std::string_view text(recordText_ != nullptr ? recordText_ : "", recordSize_);
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        lines.emplace_back(text.substr(0, newline));
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    }
    return lines;
}

su55if_procedure *Library::resolve(std::string_view procedureName) const {
    const std::string name(procedureName);
    dlerror();
    void *symbol = dlsym(handle_, name.c_str());
    if (symbol == nullptr) {
        throw HostError(fmt::format("{} does not export {}: {}", path_, name, lastDlError()));
    }
    return reinterpret_cast<su55if_procedure *>(symbol);
}

std::vector<std::string> defaultLibraryPaths() {
    std::vector<std::string> paths;
    const std::string directory = executableDirectory();
    if (!directory.empty()) {
        paths.push_back(directory + "/libsu55if.so");
        paths.push_back(directory + "/../lib/libsu55if.so");
    }
    paths.emplace_back(SU55IF_BUILT_LIBRARY);
    return paths;
}

std::string chooseLibraryPath(const std::string &requested) {
    if (!requested.empty()) {
        return requested;
    }
    const std::vector<std::string> paths = defaultLibraryPaths();
    for (const std::string &path : paths) {
        if (access(path.c_str(), F_OK) == 0) {
            return path;
        }
    }
    throw HostError(fmt::format("cannot find libsu55if.so (looked for {}); name it with --library PATH",
                                fmt::join(paths, ", ")));
}

Block::Block(const Library &library, std::string_view procedure,
             std::initializer_list<procedures::Length> lengths, std::FILE *callLog)
    : library_(library),
      frame_(procedure, lengths),
      function_(library.resolve(procedure)),
      callLog_(callLog) {}

int Block::call() {
    // The library prints its records with the C library's stdout; they go to
    // the library's record buffer, so that the host's standard output holds
    // data alone.
    std::FILE *const data = stdout;
    stdout = library_.recordStream();
    const int status = frame_.call(function_, SU55IF_MODE_OUTPUTS);
    stdout = data;
    if (callLog_ != nullptr) {
        logCall();
    }
    return status;
}

void Block::logCall() {
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
    for (std::size_t k = 1; k <= frame_.inputSizes.size(); ++k) {
        inputs.push_back(argumentText(frame_.input(static_cast<int>(k))));
    }
    for (std::size_t k = 1; k <= frame_.outputSizes.size(); ++k) {
        outputs.push_back(argumentText(frame_.output(static_cast<int>(k))));
    }
    fmt::print(callLog_, "{} mode {} in ({}) out ({}) status {}\n", name(), frame_.callMode, fmt::join(inputs, "; "),
               fmt::join(outputs, "; "), frame_.status);
}

}  // namespace su55if::host
