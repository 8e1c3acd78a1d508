// Loading a shared library and finding its exports: dlopen and dlsym on
// POSIX systems (dynamic_library_posix.cpp), LoadLibraryW and GetProcAddress
// on Windows (dynamic_library_windows.cpp).
#pragma once

#include <span>
#include <string>

namespace su55if::host {

// The library's file name on this system: libsu55if.so or su55if.dll.
extern const char *const kLibraryFileName;
// The file format this system's loader takes: "ELF" or "PE".
extern const char *const kLibraryFormat;
// Where an installed host finds it, from the folder of the executable: "" is
// that folder itself, "/../lib" the lib/ beside it.
extern const std::span<const char *const> kInstalledLibraryFolders;

class DynamicLibrary {
public:
    // Loads the file with every reference bound now, so that a file with
    // missing symbols fails here and not during a call. Throws Error
    // with the system's text.
    explicit DynamicLibrary(const std::string &path);
    DynamicLibrary(const DynamicLibrary &) = delete;
    DynamicLibrary &operator=(const DynamicLibrary &) = delete;
    ~DynamicLibrary();  // the library stays loaded: nothing is unloaded

    // The export `name`, or null with the system's text in `error`.
    void *symbol(const std::string &name, std::string &error) const;

private:
    void *handle_;
};

// The folder holding the running executable, "" when it cannot be told.
std::string executableDirectory();

// Whether something exists under the name.
bool pathExists(const std::string &path);

}  // namespace su55if::host
