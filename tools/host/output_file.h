// Output files are written whole or not at all: the content goes to a
// temporary file beside the target, which is renamed over it only once
// everything has been written.
#pragma once

#include <string>
#include <string_view>

namespace su55if::host {

// Throws HostError naming the file when it cannot be written; no temporary
// file is left behind then.
void writeFileAtomically(const std::string &path, std::string_view content);

}  // namespace su55if::host
