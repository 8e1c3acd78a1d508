#include <dlfcn.h>
#include <fmt/format.h>
#include <limits.h>
#include <unistd.h>

#include "host/dynamic_library.h"
#include "engine/error.h"

namespace su55if::host {

using engine::Error;

const char *const kLibraryFileName = "libsu55if.so";
const char *const kLibraryFormat = "ELF";

namespace {

constexpr const char *kFolders[] = {"", "/../lib"};

const char *lastDlError() {
    const char *text = dlerror();
    return text != nullptr ? text : "unknown error";
}

}  // namespace

const std::span<const char *const> kInstalledLibraryFolders = kFolders;

DynamicLibrary::DynamicLibrary(const std::string &path) {
    // A name without a slash would be looked up on the system's search path;
    // the user means the file.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        throw Error(fmt::format("cannot load the library: {}", lastDlError()));
    }
}

DynamicLibrary::~DynamicLibrary() = default;

void *DynamicLibrary::symbol(const std::string &name, std::string &error) const {
    dlerror();
    void *address = dlsym(handle_, name.c_str());
    if (address == nullptr) {
        error = lastDlError();
    }
    return address;
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

bool pathExists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

}  // namespace su55if::host
