// The version a library file carries as text ("su55if version X.Y.Z"), read
// from the file itself rather than asked of the loaded code, so that it works
// for any build of the library and exports nothing.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace su55if::host {

// The version text of the library file at `path` ("0.1.0"), or none when the
// file holds none (a library built before versions were embedded, or not
// this library at all). Reads at most the first 64 MiB of the file. Throws
// Error when the file cannot be read.
std::optional<std::string> libraryFileVersion(const std::string &path);

// What su55if-host --version prints: the host's version, then that of the
// library it loaded, from the file at `libraryPath`.
void printHostVersion(std::FILE *out);
void printLibraryVersion(std::FILE *out, const std::string &libraryPath);

}  // namespace su55if::host
