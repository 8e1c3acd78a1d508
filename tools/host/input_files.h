// The files a user names on the command line, opened for the engine's
// readers: bounded reads through the C library, and messages that name the
// file and say what kind of file it was meant to be.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "engine/csv_reader.h"

namespace su55if::host {

// Opens `path` as a file of `kind` ("cycle file"); throws engine::Error
// naming both when it cannot be opened, and later when it cannot be read.
std::unique_ptr<engine::ByteSource> openFile(const std::string &path, std::string_view kind);

// Standard input as a file of `kind`, named "-" in messages.
std::unique_ptr<engine::ByteSource> standardInput(std::string_view kind);

}  // namespace su55if::host
