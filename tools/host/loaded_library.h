// The library as su55if-host loads it: a file chosen on the command line or
// found beside the host, checked, then loaded at run time with its exports
// resolved by name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "callkit/binding.h"
#include "host/dynamic_library.h"

namespace su55if::host {

// A loaded copy of libsu55if.so (su55if.dll). The stage schedule lives in it
// for as long as the process runs, shared by every block that calls it.
class LoadedLibrary final : public callkit::Binding {
public:
    // Checks the file, then loads it (DynamicLibrary). Throws Error.
    explicit LoadedLibrary(const std::string &path);

    su55if_procedure *resolve(std::string_view name) const override;
    const std::string &path() const { return path_; }

    // The library is a guest in the host's process: a procedure that calls
    // exit() ends the host in the middle of a call. Between these two, such
    // an exit is reported as the library's failure (exit code 3), with its
    // records, and the temporary output files are removed.
    void callStarting(std::string_view procedure) const override;
    void callReturned() const override;

private:
    std::string path_;
    DynamicLibrary library_;
};

// Where the host looks for the library when no --library is given: beside
// the executable, in ../lib from it (not on Windows, where the DLL is
// installed beside the executable in bin/), the library's own file where
// this build installs it (../lib/libsu55if.so.0, or in the multiarch folder),
// and where the build put it.
std::vector<std::string> defaultLibraryPaths();

// Loads `requested` if it is not empty, else the first default path that
// exists.
std::string chooseLibraryPath(const std::string &requested);

}  // namespace su55if::host
