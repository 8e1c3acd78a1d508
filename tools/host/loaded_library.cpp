#include "host/loaded_library.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "engine/error.h"
#include "host/library_file.h"

namespace su55if::host {

using engine::Error;

LoadedLibrary::LoadedLibrary(const std::string &path) : path_((checkLibraryFile(path), path)), library_(path) {}

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
