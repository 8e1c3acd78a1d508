#include "library.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <cstddef>

#include "host_error.h"
#include "library_file.h"

namespace su55if::host {

namespace {

// An argument as the trace shows it: a scalar as its value, a vector in
// brackets. Shortest round-trip form, so the trace is exact.
std::string argumentText(std::span<const double> values) {
    if (values.size() == 1) {
        return fmt::format("{}", values[0]);
    }
    return fmt::format("[{}]", fmt::join(values, ", "));
}

}  // namespace

Library::Library(const std::string &path) : path_((checkLibraryFile(path), path)), library_(path) {}

std::vector<std::string> Library::records() const { return records_.records(); }

su55if_procedure *Library::resolve(std::string_view procedureName) const {
    const std::string name(procedureName);
    std::string error;
    void *symbol = library_.symbol(name, error);
    if (symbol == nullptr) {
        throw HostError(fmt::format("{} does not export {}: {}", path_, name, error));
    }
    return reinterpret_cast<su55if_procedure *>(symbol);
}

std::vector<std::string> defaultLibraryPaths() {
    std::vector<std::string> paths;
    const std::string directory = executableDirectory();
    if (!directory.empty()) {
        for (const char *folder : kInstalledLibraryFolders) {
            paths.push_back(fmt::format("{}{}/{}", directory, folder, kLibraryFileName));
        }
        const std::string installed = fmt::format("{}/{}", directory, SU55IF_INSTALLED_LIBRARY);
        if (std::find(paths.begin(), paths.end(), installed) == paths.end()) {
            paths.push_back(installed);
        }
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
        if (pathExists(path)) {
            return path;
        }
    }
    throw HostError(fmt::format("cannot find {} (looked for {}); name it with --library PATH", kLibraryFileName,
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
    // the record capture, so that the host's standard output holds data alone.
    RecordCapture &records = library_.recordCapture();
    records.begin();
    const int status = frame_.call(function_, SU55IF_MODE_OUTPUTS);
    records.end();
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
