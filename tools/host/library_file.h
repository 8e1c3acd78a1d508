// Whether a file can be handed to the system's loader: a shared library
// (ELF) or DLL (PE) whose headers, and the parts of the file they describe,
// lie within the file. A file cut short would otherwise be mapped as it
// claims to be, and the loader would fault reading past its end.
#pragma once

#include <string>

namespace su55if::host {

// Throws Error naming the file and what is wrong with it: not a regular
// file, not a shared library, or cut short.
void checkLibraryFile(const std::string &path);

}  // namespace su55if::host
