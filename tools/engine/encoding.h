// How the bytes of a file read as text: the one decoder behind every file
// the engine reads (the CSV reader) and the comment lines a cycle file keeps
// when written again (writeCycleFile()).
//
// A file is read as UTF-8 while its lines are UTF-8. From the first line
// that is not, the rest of the file is read as Windows-1252, what
// spreadsheet programs in Western Europe write, and turned into UTF-8; the
// lines before it were plain ASCII or valid UTF-8, and stay as they are.
// The five bytes Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90 and
// 0x9D) become the C1 controls of the same number (U+0081 ...), as web
// browsers read them: nothing is lost, and messages show them escaped
// (printable()).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace su55if::engine {

// Whether `text` is valid UTF-8 throughout.
bool isUtf8(std::string_view text);

// Windows-1252 text as UTF-8.
std::string windows1252ToUtf8(std::string_view text);

// Decodes a file line by line, deciding once per file.
class LineDecoder {
public:
    // `line`, the file's line `number` without its line end, as UTF-8.
    void decode(std::string &line, std::uint64_t number);
    // The line from which the file is read as Windows-1252; 0 while it is
    // UTF-8.
    std::uint64_t windows1252From() const { return windows1252From_; }

private:
    std::uint64_t windows1252From_ = 0;
};

// A whole text decoded as a file is, line by line: UTF-8 that is valid
// comes back as it is.
std::string decodeText(std::string_view text);

}  // namespace su55if::engine
