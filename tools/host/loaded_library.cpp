#include "host/loaded_library.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "engine/error.h"
#include "engine/text.h"
#include "host/library_file.h"
#include "host/output_file.h"

namespace su55if::host {

using engine::Error;
using engine::printable;

namespace {

// The call under way, if any.
std::string_view procedureInCall;
callkit::RecordCapture *recordsInCall = nullptr;

// Registered with atexit: an exit during a call is the library's, and a
// failure. The records it wrote and a message go to standard error, the
// temporary output files are removed, and the host ends with exit code 3.
extern "C" void reportExitDuringCall() {
    if (recordsInCall == nullptr) {
        return;
    }
    removeTemporaryOutputs();
    recordsInCall->end();
    std::fflush(callkit::dataOutput());
    for (const std::string &record : recordsInCall->records()) {
        std::fprintf(stderr, "%s\n", printable(record).c_str());
    }
    std::fprintf(stderr, "su55if-host: the library ended the process during a call of %.*s: the host's work is "
                         "cut short, and no output file is written\n",
                 static_cast<int>(procedureInCall.size()), procedureInCall.data());
    std::fflush(stderr);
    std::_Exit(engine::kExitLibraryEnded);
}

}  // namespace

LoadedLibrary::LoadedLibrary(const std::string &path) : path_((checkLibraryFile(path), path)), library_(path) {
    [[maybe_unused]] static const bool watched = std::atexit(reportExitDuringCall) == 0;
}

void LoadedLibrary::callStarting(std::string_view procedure) const {
    procedureInCall = procedure;
    recordsInCall = &recordCapture();
}

void LoadedLibrary::callReturned() const { recordsInCall = nullptr; }

su55if_procedure *LoadedLibrary::resolve(std::string_view procedureName) const {
    const std::string name(procedureName);
    std::string error;
    void *symbol = library_.symbol(name, error);
    if (symbol == nullptr) {
        throw Error(fmt::format("{} does not export {}: {}", path_, name, error));
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
    throw Error(fmt::format("cannot find {} (looked for {}); name it with --library PATH", kLibraryFileName,
                                fmt::join(paths, ", ")));
}

}  // namespace su55if::host
